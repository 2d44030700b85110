// Pictures: PNG (and JPEG) files, the test picture, scaling and the blend.
#include "sim/picture.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "fb/screen.h"
#include "sim/model.h"

#if LUMETRA_HAVE_JPEG
#include <csetjmp>
// jpeglib.h wants FILE and size_t declared before it.
#include <jpeglib.h>
#endif

namespace {

// Picture files above this many pixels are refused rather than allocated.
constexpr uint64_t kMaxPixels = 64ull * 1024 * 1024;

struct file_closer {
    void operator()(FILE* f) const { std::fclose(f); }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;

bool read_png(const std::string& path, sim::picture& out, std::string& err);
#if LUMETRA_HAVE_JPEG
bool read_jpeg(const std::string& path, sim::picture& out, std::string& err);
#endif
uint32_t sample_bilinear(const sim::picture& src, uint32_t fx, uint32_t fy);
uint32_t blend(uint32_t over, uint32_t under);

}  // namespace

namespace sim {

bool read_picture(const std::string& path, picture& out, std::string& err) {
    file_ptr f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        err = std::strerror(errno);
        return false;
    }
    unsigned char head[8] = {};
    size_t n = std::fread(head, 1, sizeof head, f.get());
    f.reset();
    if (n >= 8 && png_sig_cmp(head, 0, 8) == 0) return read_png(path, out, err);
    if (n >= 3 && head[0] == 0xff && head[1] == 0xd8 && head[2] == 0xff) {
#if LUMETRA_HAVE_JPEG
        return read_jpeg(path, out, err);
#else
        err = "JPEG pictures are not supported by this build (no libjpeg); use a PNG";
        return false;
#endif
    }
    err = "not a PNG or JPEG picture";
    return false;
}

bool write_png(const std::string& path, const picture& p, std::string& err) {
    if (p.width == 0 || p.height == 0 || p.argb.size() < size_t{p.width} * p.height) {
        err = "empty picture";
        return false;
    }
    std::vector<uint8_t> rgba(p.argb.size() * 4);
    for (size_t i = 0; i < p.argb.size(); ++i) {
        uint32_t v = p.argb[i];
        rgba[4 * i] = static_cast<uint8_t>(v >> 16);
        rgba[4 * i + 1] = static_cast<uint8_t>(v >> 8);
        rgba[4 * i + 2] = static_cast<uint8_t>(v);
        rgba[4 * i + 3] = static_cast<uint8_t>(v >> 24);
    }
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    img.width = p.width;
    img.height = p.height;
    img.format = PNG_FORMAT_RGBA;
    if (!png_image_write_to_file(&img, path.c_str(), 0, rgba.data(), 0, nullptr)) {
        err = img.message;  // libpng puts the system's reason here when the file won't open
        png_image_free(&img);
        return false;
    }
    return true;
}

picture test_picture(uint32_t width, uint32_t height) {
    // 75% colour bars over two thirds, a grey ramp, then a checkerboard where the
    // subtitles stand, so that both solid and see-through parts show.
    static constexpr uint32_t bars[8] = {0xffc0c0c0, 0xffc0c000, 0xff00c0c0, 0xff00c000,
                                         0xffc000c0, 0xffc00000, 0xff0000c0, 0xff101010};
    picture p;
    p.width = width;
    p.height = height;
    p.argb.resize(size_t{width} * height);
    uint32_t bars_end = height * 2 / 3;
    uint32_t ramp_end = bars_end + height / 12;
    uint32_t square = std::max<uint32_t>(1, height / 24);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t v;
            if (y < bars_end) {
                v = bars[std::min<uint32_t>(7, x * 8 / width)];
            } else if (y < ramp_end) {
                uint32_t g = x * 255 / std::max<uint32_t>(1, width - 1);
                v = 0xff000000 | g << 16 | g << 8 | g;
            } else {
                bool light = ((x / square) + ((y - ramp_end) / square)) % 2 == 0;
                v = light ? 0xffc8c8c8 : 0xff404040;
            }
            p.argb[size_t{y} * width + x] = v;
        }
    }
    return p;
}

picture fit_picture(const picture& src, uint32_t width, uint32_t height) {
    picture out;
    out.width = width;
    out.height = height;
    out.argb.assign(size_t{width} * height, 0xff000000);
    if (src.width == 0 || src.height == 0 || width == 0 || height == 0) return out;
    // The largest size of src's aspect that fits, centred.
    uint64_t w = width, h = uint64_t{src.height} * width / src.width;
    if (h > height) {
        h = height;
        w = std::max<uint64_t>(1, uint64_t{src.width} * height / src.height);
    }
    h = std::max<uint64_t>(1, h);
    uint64_t x0 = (width - w) / 2, y0 = (height - h) / 2;
    for (uint64_t y = 0; y < h; ++y) {
        // Sample positions in 16.16 fixed point, at pixel centres.
        uint64_t fy = ((2 * y + 1) * src.height << 16) / (2 * h);
        fy = fy >= (1u << 15) ? fy - (1u << 15) : 0;
        for (uint64_t x = 0; x < w; ++x) {
            uint64_t fx = ((2 * x + 1) * src.width << 16) / (2 * w);
            fx = fx >= (1u << 15) ? fx - (1u << 15) : 0;
            uint32_t v = sample_bilinear(src, static_cast<uint32_t>(fx), static_cast<uint32_t>(fy));
            out.argb[(y0 + y) * width + x0 + x] = blend(v, 0xff000000);
        }
    }
    return out;
}

void copy_visible_area(std::span<const uint32_t> mem, uint32_t xres, uint32_t yres,
                       uint32_t line_length, picture& out) {
    size_t stride = line_length / 4;
    out.width = xres;
    out.height = yres;
    out.argb.assign(size_t{xres} * yres, 0);
    for (uint32_t y = 0; y < yres; ++y) {
        size_t from = y * stride;
        if (from >= mem.size()) break;
        size_t n = std::min<size_t>(xres, mem.size() - from);
        std::memcpy(&out.argb[size_t{y} * xres], &mem[from], n * 4);
    }
}

void grab_framebuffer(picture& out) {
    fb_state st{};
    std::vector<uint32_t> shown;
    bool have;
    {
        std::lock_guard lk(pixel_mutex);
        have = fb_scanout(shown, st);
    }
    if (!have) {
        out.width = out.height = 0;
        out.argb.clear();
        return;
    }
    copy_shown_area(shown, st, out);
}

void copy_shown_area(std::span<const uint32_t> mem, const fb_state& st, picture& out) {
    const uint64_t start = uint64_t{st.var.yoffset} * (st.fix.line_length / 4) + st.var.xoffset;
    copy_visible_area(mem.subspan(std::min<uint64_t>(start, mem.size())), st.var.xres, st.var.yres,
                      st.fix.line_length, out);
}

void compose(const picture& display, const picture& background, picture& out) {
    out.width = background.width;
    out.height = background.height;
    out.argb.resize(background.argb.size());
    bool has_display = display.width != 0 && display.height != 0;
    for (uint32_t y = 0; y < out.height; ++y) {
        const uint32_t* bg = &background.argb[size_t{y} * out.width];
        uint32_t* o = &out.argb[size_t{y} * out.width];
        if (!has_display) {
            for (uint32_t x = 0; x < out.width; ++x) o[x] = bg[x] | 0xff000000;
            continue;
        }
        const uint32_t* d =
            &display.argb[static_cast<size_t>(uint64_t{y} * display.height / out.height) *
                          display.width];
        if (display.width == out.width) {
            for (uint32_t x = 0; x < out.width; ++x) o[x] = blend(d[x], bg[x]);
        } else {
            for (uint32_t x = 0; x < out.width; ++x) {
                o[x] = blend(d[uint64_t{x} * display.width / out.width], bg[x]);
            }
        }
    }
}

}  // namespace sim

namespace {

bool read_png(const std::string& path, sim::picture& out, std::string& err) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str())) {
        err = img.message;
        png_image_free(&img);
        return false;
    }
    if (uint64_t{img.width} * img.height > kMaxPixels) {
        err = "picture too large";
        png_image_free(&img);
        return false;
    }
    img.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, rgba.data(), 0, nullptr)) {
        err = img.message;
        png_image_free(&img);
        return false;
    }
    out.width = img.width;
    out.height = img.height;
    out.argb.resize(size_t{img.width} * img.height);
    for (size_t i = 0; i < out.argb.size(); ++i) {
        out.argb[i] = uint32_t{rgba[4 * i + 3]} << 24 | uint32_t{rgba[4 * i]} << 16 |
                      uint32_t{rgba[4 * i + 1]} << 8 | rgba[4 * i + 2];
    }
    return true;
}

#if LUMETRA_HAVE_JPEG
struct jpeg_failure {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpeg_fail(j_common_ptr cinfo) {
    auto* f = reinterpret_cast<jpeg_failure*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, f->message);
    std::longjmp(f->jump, 1);
}

// Everything with a destructor lives outside the setjmp frame's reach: libjpeg's
// errors jump back into it.
bool read_jpeg(const std::string& path, sim::picture& out, std::string& err) {
    file_ptr f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        err = std::strerror(errno);
        return false;
    }
    std::vector<uint8_t> row;
    jpeg_decompress_struct cinfo{};
    jpeg_failure fail{};
    cinfo.err = jpeg_std_error(&fail.mgr);
    fail.mgr.error_exit = jpeg_fail;
    if (setjmp(fail.jump)) {
        jpeg_destroy_decompress(&cinfo);
        err = fail.message;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f.get());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    if (uint64_t{cinfo.output_width} * cinfo.output_height > kMaxPixels ||
        cinfo.output_components != 3) {
        jpeg_destroy_decompress(&cinfo);
        err = "picture too large";
        return false;
    }
    out.width = cinfo.output_width;
    out.height = cinfo.output_height;
    out.argb.resize(size_t{out.width} * out.height);
    row.resize(size_t{out.width} * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[1] = {row.data()};
        uint32_t y = cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, rows, 1);
        for (uint32_t x = 0; x < out.width; ++x) {
            out.argb[size_t{y} * out.width + x] = 0xff000000 | uint32_t{row[3 * x]} << 16 |
                                                  uint32_t{row[3 * x + 1]} << 8 | row[3 * x + 2];
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}
#endif

// Bilinear sample at fixed-point position (fx, fy) in 16.16, clamped to the picture.
uint32_t sample_bilinear(const sim::picture& src, uint32_t fx, uint32_t fy) {
    uint32_t x0 = std::min(fx >> 16, src.width - 1), y0 = std::min(fy >> 16, src.height - 1);
    uint32_t x1 = std::min(x0 + 1, src.width - 1), y1 = std::min(y0 + 1, src.height - 1);
    uint32_t ax = (fx >> 8) & 0xff, ay = (fy >> 8) & 0xff;
    uint32_t p00 = src.argb[size_t{y0} * src.width + x0],
             p01 = src.argb[size_t{y0} * src.width + x1];
    uint32_t p10 = src.argb[size_t{y1} * src.width + x0],
             p11 = src.argb[size_t{y1} * src.width + x1];
    uint32_t v = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        uint32_t c00 = p00 >> shift & 0xff, c01 = p01 >> shift & 0xff;
        uint32_t c10 = p10 >> shift & 0xff, c11 = p11 >> shift & 0xff;
        uint32_t top = c00 * (256 - ax) + c01 * ax;
        uint32_t bottom = c10 * (256 - ax) + c11 * ax;
        uint32_t c = (top * (256 - ay) + bottom * ay + (1u << 15)) >> 16;
        v |= std::min<uint32_t>(c, 255) << shift;
    }
    return v;
}

// over blended by its alpha onto under; the result is opaque.
uint32_t blend(uint32_t over, uint32_t under) {
    uint32_t a = over >> 24;
    if (a == 0xff) return over;
    if (a == 0) return under | 0xff000000;
    uint32_t v = 0xff000000;
    for (int shift = 0; shift < 24; shift += 8) {
        uint32_t c = ((over >> shift & 0xff) * a + (under >> shift & 0xff) * (255 - a) + 127) / 255;
        v |= c << shift;
    }
    return v;
}

}  // namespace
