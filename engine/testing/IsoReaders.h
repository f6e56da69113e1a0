// The third-party readers now live with the shared test support; this name stays for the tests that
// include it from here.
#pragma once

#include "base/testing/IsoReaders.h"
