// Feeds arbitrary sectors to the session import through a disc in memory: the input is the disc from
// sector 16 on (the descriptors first), behind a zero system area. The imported tree is then laid out, so
// that whatever a hostile disc can put into the compilation also passes through the layout.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "isofs/qrCompilation.h"
#include "isofs/qrISOLayout.h"
#include "isofs/qrSessionDisc.h"
#include "isofs/qrSessionImport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brenwick;
    if (size > (std::size_t{1} << 22)) return 0;  // a few MB of disc cover every structure
    std::vector<std::uint8_t> image(16 * 2048, 0);
    image.insert(image.end(), data, data + size);
    TMemoryDisc disc(std::move(image), {0});
    TCompilation compilation;
    TSessionImport import(compilation, disc);
    (void)import.ImportSession(0xFF, nullptr);  // any outcome is fine; crashes and hangs are not
    TMetadataStream stream;
    TSessionLayout layout;
    (void)LayoutSession(compilation, 0, true, TVolumeInfo{}, stream, layout);
    return 0;
}
