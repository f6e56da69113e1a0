// The file-system image module: names, order, the compilation tree, the session layout and the import.
#pragma once

#include "isofs/qrCompilation.h"
#include "isofs/qrEntries.h"
#include "isofs/qrFileSearch.h"
#include "isofs/qrISODate.h"
#include "isofs/qrISOLayout.h"
#include "isofs/qrISOMessages.h"
#include "isofs/qrISONames.h"
#include "isofs/qrSessionDisc.h"
#include "isofs/qrSessionImport.h"
#include "isofs/qrSessionPrepare.h"
