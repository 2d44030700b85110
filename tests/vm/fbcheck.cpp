// Host-side picture checks of the virtual-machine test. Framebuffer dumps are the raw
// memory (native 32-bit ARGB words, lines STRIDE bytes apart); only the box's visible
// 720 x 576 area is looked at. Exit status 0 when the check holds, 1 when not, 2 on error.
//
//   fbcheck same A.raw STRIDE_A B.raw STRIDE_B     the visible areas are equal, pixel for pixel
//   fbcheck scanout SHOT.ppm DUMP.raw STRIDE       the screen dump shows the visible area of the
//                                                  dump (alpha aside) and black around it
//   fbcheck lit DUMP.raw STRIDE Y0 Y1 MIN          at least MIN non-zero pixels in lines Y0..Y1-1
//   fbcheck dark DUMP.raw STRIDE Y0 Y1             no non-zero pixel in lines Y0..Y1-1
//   fbcheck zero DUMP.raw                          every byte is zero
//   fbcheck png DUMP.raw STRIDE OUT.png            the visible area as a picture (alpha aside)
#include <png.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int kW = 720, kH = 576;

struct dump {
    std::vector<unsigned char> bytes;
    size_t stride = 0;
    uint32_t at(int x, int y) const {
        uint32_t v;
        std::memcpy(&v, bytes.data() + static_cast<size_t>(y) * stride + 4u * x, 4);
        return v;
    }
};

bool read_all(const char* path, std::vector<unsigned char>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "fbcheck: cannot read %s\n", path);
        return false;
    }
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool load_dump(const char* path, const char* stride, dump& d) {
    if (!read_all(path, d.bytes)) return false;
    d.stride = std::strtoul(stride, nullptr, 10);
    if (d.stride < 4u * kW || d.bytes.size() < d.stride * (kH - 1) + 4u * kW) {
        std::fprintf(stderr, "fbcheck: %s: %zu bytes do not hold 720 x 576 with stride %zu\n", path,
                     d.bytes.size(), d.stride);
        return false;
    }
    return true;
}

struct ppm {
    int w = 0, h = 0;
    std::vector<unsigned char> rgb;
};

// A binary PPM as QEMU's screendump writes it.
bool load_ppm(const char* path, ppm& p) {
    std::vector<unsigned char> b;
    if (!read_all(path, b)) return false;
    size_t pos = 0;
    auto token = [&]() -> std::string {
        while (pos < b.size()) {
            if (b[pos] == '#') {
                while (pos < b.size() && b[pos] != '\n') ++pos;
            } else if (std::isspace(b[pos])) {
                ++pos;
            } else {
                break;
            }
        }
        std::string t;
        while (pos < b.size() && !std::isspace(b[pos])) t += static_cast<char>(b[pos++]);
        return t;
    };
    std::string magic = token();
    p.w = std::atoi(token().c_str());
    p.h = std::atoi(token().c_str());
    int max = std::atoi(token().c_str());
    ++pos;
    size_t need = static_cast<size_t>(p.w) * p.h * 3;
    if (magic != "P6" || max != 255 || p.w <= 0 || p.h <= 0 || b.size() < pos + need) {
        std::fprintf(stderr, "fbcheck: %s is not a 24-bit binary PPM\n", path);
        return false;
    }
    p.rgb.assign(b.begin() + static_cast<long>(pos), b.begin() + static_cast<long>(pos + need));
    return true;
}

int same(const dump& a, const dump& b) {
    long differ = 0;
    int fx = -1, fy = -1;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            if (a.at(x, y) != b.at(x, y)) {
                if (differ++ == 0) fx = x, fy = y;
            }
    if (differ == 0) {
        std::printf("all %d pixels equal\n", kW * kH);
        return 0;
    }
    std::printf("%ld of %d pixels differ; first at (%d, %d): %08x against %08x\n", differ, kW * kH,
                fx, fy, a.at(fx, fy), b.at(fx, fy));
    return 1;
}

int scanout(const ppm& shot, const dump& d) {
    if (shot.w < kW || shot.h < kH) {
        std::printf("the screen is %d x %d, smaller than 720 x 576\n", shot.w, shot.h);
        return 1;
    }
    long differ = 0, outside = 0;
    int fx = -1, fy = -1;
    for (int y = 0; y < shot.h; ++y)
        for (int x = 0; x < shot.w; ++x) {
            const unsigned char* px = &shot.rgb[(static_cast<size_t>(y) * shot.w + x) * 3];
            uint32_t seen = (uint32_t{px[0]} << 16) | (uint32_t{px[1]} << 8) | px[2];
            if (x < kW && y < kH) {
                if (seen != (d.at(x, y) & 0xffffffu) && differ++ == 0) fx = x, fy = y;
            } else if (seen != 0) {
                ++outside;
            }
        }
    std::printf("screen %d x %d: %ld pixels of the visible area differ from the memory", shot.w,
                shot.h, differ);
    if (differ) std::printf(" (first at (%d, %d))", fx, fy);
    std::printf(", %ld lit pixels outside it\n", outside);
    return differ == 0 && outside == 0 ? 0 : 1;
}

long count_lit(const dump& d, int y0, int y1) {
    long n = 0;
    for (int y = std::max(y0, 0); y < y1 && y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            if (d.at(x, y) != 0) ++n;
    return n;
}

int lit(const dump& d, int y0, int y1, long min) {
    long n = count_lit(d, y0, y1);
    std::printf("%ld non-zero pixels in lines %d..%d (at least %ld wanted)\n", n, y0, y1 - 1, min);
    return n >= min ? 0 : 1;
}

int dark(const dump& d, int y0, int y1) {
    long n = count_lit(d, y0, y1);
    std::printf("%ld non-zero pixels in lines %d..%d (none wanted)\n", n, y0, y1 - 1);
    return n == 0 ? 0 : 1;
}

int zero(const std::vector<unsigned char>& b) {
    size_t n = 0;
    for (unsigned char c : b)
        if (c != 0) ++n;
    std::printf("%zu of %zu bytes are not zero\n", n, b.size());
    return n == 0 && !b.empty() ? 0 : 1;
}

int write_png(const dump& d, const char* path) {
    FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return 2;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return 2;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, kW, kH, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<unsigned char> row(kW * 3);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            uint32_t v = d.at(x, y);
            row[x * 3] = static_cast<unsigned char>(v >> 16);
            row[x * 3 + 1] = static_cast<unsigned char>(v >> 8);
            row[x * 3 + 2] = static_cast<unsigned char>(v);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0 ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string cmd = argc > 1 ? argv[1] : "";
    dump a, b;
    if (cmd == "same" && argc == 6) {
        if (!load_dump(argv[2], argv[3], a) || !load_dump(argv[4], argv[5], b)) return 2;
        return same(a, b);
    }
    if (cmd == "scanout" && argc == 5) {
        ppm shot;
        if (!load_ppm(argv[2], shot) || !load_dump(argv[3], argv[4], a)) return 2;
        return scanout(shot, a);
    }
    if (cmd == "lit" && argc == 7) {
        if (!load_dump(argv[2], argv[3], a)) return 2;
        return lit(a, std::atoi(argv[4]), std::atoi(argv[5]), std::atol(argv[6]));
    }
    if (cmd == "dark" && argc == 6) {
        if (!load_dump(argv[2], argv[3], a)) return 2;
        return dark(a, std::atoi(argv[4]), std::atoi(argv[5]));
    }
    if (cmd == "zero" && argc == 3) {
        if (!read_all(argv[2], a.bytes)) return 2;
        return zero(a.bytes);
    }
    if (cmd == "png" && argc == 5) {
        if (!load_dump(argv[2], argv[3], a)) return 2;
        return write_png(a, argv[4]);
    }
    std::fprintf(stderr, "usage: see the top of tests/vm/fbcheck.cpp\n");
    return 2;
}
