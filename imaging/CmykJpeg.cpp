#include "imaging/CmykJpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>

namespace {

// libjpeg reports fatal errors through error_exit, which must not return: jump back out.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void error_exit(j_common_ptr info)
{
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    manager->base.format_message(info, manager->message);
    std::longjmp(manager->jump, 1);
}

void no_output(j_common_ptr) {}

// Plain data only between setjmp and longjmp: no destructors are skipped.
struct Decoded {
    bool ok = false;
    bool adobe = false;
    int components = 0;
    unsigned width = 0;
    unsigned height = 0;
};

// Reads the header and, when `image` is given, the pixels into it.
Decoded decode(const QByteArray& bytes, RasterImage* image, qsizetype maxBytes, char* message)
{
    Decoded result;
    jpeg_decompress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = error_exit;
    errors.base.output_message = no_output;
    errors.message[0] = '\0';
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        std::snprintf(message, JMSG_LENGTH_MAX, "%s", errors.message);
        result.ok = false;
        return result;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.constData()), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    result.components = info.num_components;
    result.adobe = info.saw_Adobe_marker;
    result.width = info.image_width;
    result.height = info.image_height;
    const bool fourInks = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    if (!image || !fourInks) {
        jpeg_destroy_decompress(&info);
        result.ok = fourInks;
        return result;
    }
    image->width = int(info.image_width);
    image->height = int(info.image_height);
    image->space = krmSig("CMYK");
    image->colorChannels = 4;
    image->alpha = false;
    image->bytesPerSample = 1;
    if (!image->allocate(maxBytes)) {
        jpeg_destroy_decompress(&info);
        std::snprintf(message, JMSG_LENGTH_MAX, "the image is too large (%u x %u pixels)", result.width, result.height);
        return result;
    }
    info.out_color_space = JCS_CMYK;
    jpeg_start_decompress(&info);
    if (info.output_components != 4) {
        jpeg_destroy_decompress(&info);
        std::snprintf(message, JMSG_LENGTH_MAX, "the decoder gives %d components", info.output_components);
        return result;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image->scanLine(int(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    result.ok = true;
    return result;
}

} // namespace

bool isCmykJpeg(const QByteArray& bytes)
{
    char message[JMSG_LENGTH_MAX] = {};
    return decode(bytes, nullptr, 0, message).ok;
}

RasterImage readCmykJpeg(const QByteArray& bytes, qsizetype maxBytes, QString& error)
{
    RasterImage image;
    char message[JMSG_LENGTH_MAX] = {};
    const Decoded d = decode(bytes, &image, maxBytes, message);
    if (!d.ok) {
        error = message[0] ? QString::fromUtf8(message) : QStringLiteral("not a CMYK JPEG file");
        return RasterImage();
    }
    // Photoshop and the other Adobe writers store CMYK inverted whenever they write their APP14
    // marker; the others (rare) store it plainly.
    if (d.adobe) {
        auto* p = reinterpret_cast<uchar*>(image.pixels.data());
        for (qsizetype i = 0; i < image.pixels.size(); ++i)
            p[i] = uchar(255 - p[i]);
    }
    return image;
}

QByteArray writeCmykJpeg(const RasterImage& image, int quality, bool adobe)
{
    if (image.isNull() || image.space != krmSig("CMYK") || image.bytesPerSample != 1)
        return QByteArray();
    // The inverted copy is made before setjmp, so nothing with a destructor is skipped.
    QByteArray inverted(qsizetype(image.width) * 4, Qt::Uninitialized);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_compress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = error_exit;
    errors.base.output_message = no_output;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&info);
        std::free(buffer);
        return QByteArray();
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(image.width);
    info.image_height = JDIMENSION(image.height);
    info.input_components = 4;
    info.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    info.write_Adobe_marker = adobe ? TRUE : FALSE;
    jpeg_start_compress(&info, TRUE);
    auto* row = reinterpret_cast<unsigned char*>(inverted.data());
    while (info.next_scanline < info.image_height) {
        const uchar* from = image.scanLine(int(info.next_scanline));
        for (qsizetype i = 0; i < inverted.size(); ++i)
            row[i] = adobe ? uchar(255 - from[i]) : from[i];
        JSAMPROW rows[1] = {row};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray out(reinterpret_cast<const char*>(buffer), qsizetype(size));
    std::free(buffer);
    return out;
}
