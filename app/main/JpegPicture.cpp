#include "app/main/JpegPicture.h"

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>

namespace brenwick {
namespace {

// libjpeg's default error handler prints and calls exit(); this one jumps back to the decoder instead.
struct TJpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

[[noreturn]] void FailDecode(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<TJpegError*>(cinfo->err)->jump, 1);
}

// Level -1 is a warning about damaged data (a truncated file, a corrupt Huffman code): libjpeg would go on
// and paint grey over the rest; a damaged picture is refused whole instead. Trace messages are ignored.
void OnMessage(j_common_ptr cinfo, int level) {
    if (level < 0) {
        FailDecode(cinfo);
    }
}

// Everything the jump may leave behind lives outside this frame, so that no C++ object with a destructor
// is skipped by longjmp; the caller owns the image and frees the decompressor.
bool Decode(jpeg_decompress_struct& cinfo, TJpegError& err, const QByteArray& data, QImage& out) {
    if (setjmp(err.jump) != 0) {
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 3) {
        return false;
    }
    out = QImage(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                 QImage::Format_RGB888);
    if (out.isNull()) {
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out.scanLine(static_cast<int>(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& data) {
    if (data.isEmpty()) {
        return {};
    }
    jpeg_decompress_struct cinfo{};
    TJpegError err{};
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = FailDecode;
    err.mgr.emit_message = OnMessage;
    QImage image;
    const bool ok = Decode(cinfo, err, data, image);
    jpeg_destroy_decompress(&cinfo);
    return ok ? image : QImage();
}

}  // namespace brenwick
