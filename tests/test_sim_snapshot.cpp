// Snapshots and pictures of the simulator: the framebuffer written as PNG and raw
// memory byte for byte, the blend over the background, background files.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "fb/primitives.h"
#include "fb/screen.h"
#include "hw/device.h"
#include "sim/model.h"
#include "sim/picture.h"
#include "sim/snapshot.h"
#include "tests/support/sim_support.h"
#include "tests/support/support.h"

#if LUMETRA_HAVE_JPEG
#include <jpeglib.h>
#include <cstdio>
#endif

namespace {

std::string read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// over blended onto under by over's alpha, rounded to nearest: what a television shows.
uint32_t expected_blend(uint32_t over, uint32_t under) {
    uint32_t a = over >> 24, v = 0xff000000;
    for (int sh = 0; sh < 24; sh += 8) {
        uint32_t c = ((over >> sh & 0xff) * a + (under >> sh & 0xff) * (255 - a) + 127) / 255;
        v |= c << sh;
    }
    return v;
}

// Every visible pixel of the PNG equals the model's memory at (x, y) by line_length.
void expect_png_matches_memory(const std::string& png) {
    sim::fb_state st = sim::framebuffer();
    std::span<uint32_t> mem = sim::fb_memory();
    uint32_t w = 0, h = 0;
    std::vector<uint32_t> px;
    ASSERT_TRUE(simtest::read_png_argb(png, w, h, px));
    ASSERT_EQ(w, st.var.xres);
    ASSERT_EQ(h, st.var.yres);
    size_t stride = st.fix.line_length / 4;
    int wrong = 0;
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            size_t i = y * stride + x;
            uint32_t want = i < mem.size() ? mem[i] : 0;
            if (px[size_t{y} * w + x] != want && ++wrong <= 5) {
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << std::hex
                              << px[size_t{y} * w + x] << ", memory has " << want;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

}  // namespace

TEST(SimSnapshot, BoxesDrawnByThePlayerReadBackByteForByte) {
    testsup::box_root root;
    testsup::setup_box(root);
    ASSERT_EQ(testsup::open_display(), 1);
    // Known shapes, and words whose alpha is neither 0 nor 0xff, which a PNG writer
    // that premultiplies or drops alpha would change.
    fb_fill(0, 100, 120, 49, 20, 4);
    fb_box(10, 10, 40, 200, 0, 7, 1);
    fb_fill(0, 300, 300, 10, 10, 11);
    std::span<uint32_t> mem = sim::fb_memory();
    uint32_t stride = sim::framebuffer().fix.line_length / 4;
    mem[400 * stride + 500] = 0x30001020;
    mem[400 * stride + 501] = 0x01ffffff;
    mem[575 * stride + 719] = 0x80c0ffee;

    simtest::scratch_dir dir;
    std::string err;
    ASSERT_TRUE(sim::write_snapshot(dir.file("s.raw"), err)) << err;
    ASSERT_TRUE(sim::write_snapshot(dir.file("s.PNG"), err)) << err;

    std::string raw = read_bytes(dir.file("s.raw"));
    ASSERT_EQ(raw.size(), sim::framebuffer().fix.smem_len);
    EXPECT_EQ(std::memcmp(raw.data(), mem.data(), raw.size()), 0);

    ASSERT_EQ(sim::framebuffer().var.xres, 720u);
    expect_png_matches_memory(dir.file("s.PNG"));
    uint32_t w, h;
    std::vector<uint32_t> px;
    ASSERT_TRUE(simtest::read_png_argb(dir.file("s.PNG"), w, h, px));
    EXPECT_EQ(px[120 * w + 100], palette[4]);
    EXPECT_EQ(px[120 * w + 149], palette[4]);
    EXPECT_EQ(px[120 * w + 150], 0u);
    EXPECT_EQ(px[300 * w + 305], palette[11]);
    EXPECT_EQ(px[400 * w + 500], 0x30001020u);
    EXPECT_EQ(px[575 * w + 719], 0x80c0ffeeu);
    testsup::close_display();
}

TEST(SimSnapshot, PngUsesTheDriversLineLengthAndZeroesPixelsBeyondMemory) {
    // A driver that keeps its 1000-pixel stride when the mode becomes 700 x 500, with
    // video memory for only 360 of those rows.
    sim::reset();
    sim::fb_config cfg;
    cfg.xres = 1000;
    cfg.yres = 360;
    cfg.smem_len = 4000 * 360;
    cfg.keep_stride = true;
    sim::set_framebuffer(cfg);
    int fd = hw_open("/dev/fb/0", O_RDWR);
    ASSERT_GE(fd, 0);
    fb_var_screeninfo v = sim::framebuffer().var;
    v.xres = 700;
    v.yres = 500;
    ASSERT_EQ(hw_ioctl(fd, FBIOPUT_VSCREENINFO, &v), 0);
    hw_close(fd);
    ASSERT_EQ(sim::framebuffer().fix.line_length, 4000u);
    ASSERT_EQ(sim::framebuffer().var.xres, 700u);

    std::span<uint32_t> mem = sim::fb_memory();
    for (size_t i = 0; i < mem.size(); ++i) mem[i] = 0x80000000u | static_cast<uint32_t>(i);
    simtest::scratch_dir dir;
    std::string err;
    ASSERT_TRUE(sim::write_snapshot(dir.file("wide.png"), err)) << err;
    expect_png_matches_memory(dir.file("wide.png"));
    uint32_t w, h;
    std::vector<uint32_t> px;
    ASSERT_TRUE(simtest::read_png_argb(dir.file("wide.png"), w, h, px));
    EXPECT_EQ(px[1 * w + 0], 0x80000000u | 1000u);
    EXPECT_EQ(px[359 * w + 699], 0x80000000u | (359u * 1000u + 699u));
    EXPECT_EQ(px[360 * w + 0], 0u);  // the memory ends after 360 rows
    EXPECT_EQ(px[499 * w + 699], 0u);
}

TEST(SimSnapshot, NoFramebufferOrNoFileIsAReasonNotACrash) {
    sim::reset();
    sim::fb_config cfg;
    cfg.present = false;
    sim::set_framebuffer(cfg);
    simtest::scratch_dir dir;
    std::string err;
    EXPECT_FALSE(sim::write_snapshot(dir.file("x.png"), err));
    EXPECT_EQ(err, "there is no framebuffer");

    sim::set_framebuffer({});
    err.clear();
    EXPECT_FALSE(sim::write_snapshot(dir.file("missing/x.raw"), err));
    EXPECT_NE(err.find("No such file"), std::string::npos) << err;
    err.clear();
    EXPECT_FALSE(sim::write_snapshot(dir.file("missing/x.png"), err));
    EXPECT_FALSE(err.empty());
}

TEST(SimSnapshot, CopyTakenAtShutDownIsWrittenLikeTheLiveMemory) {
    sim::reset();
    sim::set_framebuffer({});
    sim::fb_state st = sim::framebuffer();
    std::vector<uint32_t> copy(st.fix.smem_len / 4);
    for (size_t i = 0; i < copy.size(); ++i) copy[i] = static_cast<uint32_t>(i * 2654435761u);
    simtest::scratch_dir dir;
    std::string err;
    ASSERT_TRUE(sim::write_snapshot_of(dir.file("end.raw"), copy.data(), copy.size() * 4, st, err));
    std::string raw = read_bytes(dir.file("end.raw"));
    ASSERT_EQ(raw.size(), copy.size() * 4);
    EXPECT_EQ(std::memcmp(raw.data(), copy.data(), raw.size()), 0);

    ASSERT_TRUE(sim::write_snapshot_of(dir.file("end.png"), copy.data(), copy.size() * 4, st, err));
    uint32_t w, h;
    std::vector<uint32_t> px;
    ASSERT_TRUE(simtest::read_png_argb(dir.file("end.png"), w, h, px));
    ASSERT_EQ(w, st.var.xres);
    EXPECT_EQ(px[3 * w + 7], copy[3 * (st.fix.line_length / 4) + 7]);
}

TEST(SimPicture, BlendByAlphaAndStretchByNearestPixel) {
    sim::picture bg;
    bg.width = 720;
    bg.height = 576;
    bg.argb.resize(720 * 576);
    for (uint32_t y = 0; y < 576; ++y) {
        for (uint32_t x = 0; x < 720; ++x)
            bg.argb[y * 720 + x] = 0xff000000 | (x & 0xff) << 16 | (y & 0xff) << 8 | 0x40;
    }
    sim::picture d;
    d.width = 360;
    d.height = 288;
    d.argb.assign(360 * 288, 0);
    d.argb[10 * 360 + 20] = 0xff123456;  // opaque
    d.argb[10 * 360 + 21] = 0x80ff0000;  // half
    d.argb[10 * 360 + 22] = 0xb0222222;  // the subtitle box grey
    d.argb[287 * 360 + 359] = 0x01ffffff;

    sim::picture out;
    sim::compose(d, bg, out);
    ASSERT_EQ(out.width, 720u);
    ASSERT_EQ(out.height, 576u);
    auto at = [&](uint32_t x, uint32_t y) { return out.argb[y * 720 + x]; };
    auto under = [&](uint32_t x, uint32_t y) { return bg.argb[y * 720 + x]; };
    // Each display pixel covers 2 x 2 pixels of the picture.
    for (uint32_t dy = 0; dy < 2; ++dy) {
        for (uint32_t dx = 0; dx < 2; ++dx) {
            EXPECT_EQ(at(40 + dx, 20 + dy), 0xff123456u);
            EXPECT_EQ(at(42 + dx, 20 + dy), expected_blend(0x80ff0000, under(42 + dx, 20 + dy)));
            EXPECT_EQ(at(44 + dx, 20 + dy), expected_blend(0xb0222222, under(44 + dx, 20 + dy)));
            EXPECT_EQ(at(718 + dx, 574 + dy),
                      expected_blend(0x01ffffff, under(718 + dx, 574 + dy)));
        }
    }
    EXPECT_EQ(at(42, 20), 0xff000000u | (((0xffu * 0x80 + 42 * 0x7f + 127) / 255) << 16) |
                              (((20u * 0x7f + 127) / 255) << 8) | ((0x40u * 0x7f + 127) / 255));
    EXPECT_EQ(at(46, 20), under(46, 20));  // transparent: the background itself
    EXPECT_EQ(at(0, 0), under(0, 0));

    sim::picture none;
    sim::compose(none, bg, out);
    EXPECT_EQ(out.argb, bg.argb);
}

TEST(SimPicture, FitKeepsTheAspectOnBlack) {
    sim::picture wide;
    wide.width = 1440;
    wide.height = 576;
    wide.argb.resize(1440 * 576);
    for (uint32_t y = 0; y < 576; ++y) {
        for (uint32_t x = 0; x < 1440; ++x)
            wide.argb[y * 1440 + x] = x < 720 ? 0xffff0000 : 0xff00ff00;
    }
    sim::picture f = sim::fit_picture(wide, 720, 576);
    ASSERT_EQ(f.width, 720u);
    ASSERT_EQ(f.height, 576u);
    EXPECT_EQ(f.argb[0], 0xff000000u);
    EXPECT_EQ(f.argb[143 * 720 + 360], 0xff000000u);
    EXPECT_EQ(f.argb[144 * 720 + 10], 0xffff0000u);
    EXPECT_EQ(f.argb[431 * 720 + 710], 0xff00ff00u);
    EXPECT_EQ(f.argb[432 * 720 + 10], 0xff000000u);

    // A picture of the right size comes through unchanged, apart from being made opaque.
    sim::picture same;
    same.width = 720;
    same.height = 576;
    same.argb.resize(720 * 576);
    for (size_t i = 0; i < same.argb.size(); ++i)
        same.argb[i] = 0xff000000 | static_cast<uint32_t>(i * 7919);
    EXPECT_EQ(sim::fit_picture(same, 720, 576).argb, same.argb);

    sim::picture test = sim::test_picture(720, 576);
    for (uint32_t v : test.argb) ASSERT_EQ(v >> 24, 0xffu) << "the test picture is opaque";
}

TEST(SimPicture, PngRoundTripKeepsAlphaAndForeignFilesAreRefused) {
    simtest::scratch_dir dir;
    sim::picture p;
    p.width = 3;
    p.height = 2;
    p.argb = {0x00000000, 0x30001020, 0xffffffff, 0x80c0ffee, 0x01020304, 0xfe000000};
    std::string err;
    ASSERT_TRUE(sim::write_png(dir.file("p.png"), p, err)) << err;
    sim::picture back;
    ASSERT_TRUE(sim::read_picture(dir.file("p.png"), back, err)) << err;
    EXPECT_EQ(back.width, 3u);
    EXPECT_EQ(back.height, 2u);
    EXPECT_EQ(back.argb, p.argb);

    std::ofstream(dir.file("text.png")) << "hello, not a picture";
    EXPECT_FALSE(sim::read_picture(dir.file("text.png"), back, err));
    EXPECT_EQ(err, "not a PNG or JPEG picture");
    EXPECT_FALSE(sim::read_picture(dir.file("none.png"), back, err));
    EXPECT_NE(err.find("No such file"), std::string::npos);
    sim::picture empty;
    EXPECT_FALSE(sim::write_png(dir.file("e.png"), empty, err));
}

#if LUMETRA_HAVE_JPEG
TEST(SimPicture, JpegBackgroundIsRead) {
    simtest::scratch_dir dir;
    std::string path = dir.file("bg.jpg");
    {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        jpeg_compress_struct c{};
        jpeg_error_mgr e{};
        c.err = jpeg_std_error(&e);
        jpeg_create_compress(&c);
        jpeg_stdio_dest(&c, f);
        c.image_width = 64;
        c.image_height = 32;
        c.input_components = 3;
        c.in_color_space = JCS_RGB;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, 95, TRUE);
        jpeg_start_compress(&c, TRUE);
        std::vector<uint8_t> row(64 * 3);
        for (int x = 0; x < 64; ++x) {
            row[3 * x] = 200;
            row[3 * x + 1] = 40;
            row[3 * x + 2] = 90;
        }
        while (c.next_scanline < c.image_height) {
            JSAMPROW r = row.data();
            jpeg_write_scanlines(&c, &r, 1);
        }
        jpeg_finish_compress(&c);
        jpeg_destroy_compress(&c);
        std::fclose(f);
    }
    sim::picture p;
    std::string err;
    ASSERT_TRUE(sim::read_picture(path, p, err)) << err;
    EXPECT_EQ(p.width, 64u);
    EXPECT_EQ(p.height, 32u);
    uint32_t v = p.argb[16 * 64 + 32];
    EXPECT_EQ(v >> 24, 0xffu);
    EXPECT_NEAR(static_cast<int>(v >> 16 & 0xff), 200, 4);
    EXPECT_NEAR(static_cast<int>(v >> 8 & 0xff), 40, 4);
    EXPECT_NEAR(static_cast<int>(v & 0xff), 90, 4);

    std::ofstream(dir.file("cut.jpg"), std::ios::binary)
        << std::string("\xff\xd8\xff\xe0\x00\x10JFIF", 10);
    EXPECT_FALSE(sim::read_picture(dir.file("cut.jpg"), p, err));
    EXPECT_FALSE(err.empty());
}
#else
TEST(SimPicture, JpegWithoutLibjpegIsRefusedWithAReason) {
    simtest::scratch_dir dir;
    std::ofstream(dir.file("bg.jpg"), std::ios::binary)
        << std::string("\xff\xd8\xff\xe0\x00\x10JFIF", 10);
    sim::picture p;
    std::string err;
    EXPECT_FALSE(sim::read_picture(dir.file("bg.jpg"), p, err));
    EXPECT_NE(err.find("JPEG"), std::string::npos) << err;
}
#endif
