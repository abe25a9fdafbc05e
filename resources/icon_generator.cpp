// Draws the installer's icon and writes it as a .ico file: 16 x 16 and 32 x 32
// at 4 bits per pixel, in that order (the resource compiler numbers the images
// 1 and 2 as they come). The picture is a rounded violet tile with a white
// sound wave across it: every pixel is violet, white or a blend of the two, so
// 15 shades from violet to white draw it as closely as 256 colours would, in
// little more than half the bytes of an 8-bit image. Everything is computed in
// integers and fixed tables, so every build writes the same bytes.
//
// Usage: icon_generator <output.ico>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "tools/shared/little_endian.h"

namespace {

using little_endian::put16;
using little_endian::put32;

struct rgb {
    int r, g, b;
};

const rgb VIOLET = {102, 51, 204}, WHITE = {255, 255, 255};

const int SIZES[] = {16, 32};
const int BITS = 4;

// Supersampling factor per pixel side: the edges get soft without floating point.
const int SUB = 8;

// Samples a 256 x 256 design space at (x, y): writes the colour and returns
// whether the point is inside the icon.
bool design_sample(int x, int y, rgb &out) {
    // Rounded square tile with a margin of 8 and a corner radius of 48.
    const int lo = 8, hi = 248, radius = 48;
    int cx = x < lo + radius ? lo + radius : (x > hi - radius ? hi - radius : x);
    int cy = y < lo + radius ? lo + radius : (y > hi - radius ? hi - radius : y);
    int dx = x - cx, dy = y - cy;
    if (x < lo || x >= hi || y < lo || y >= hi || dx * dx + dy * dy > radius * radius) return false;

    // Flat violet: a gradient only bands in 16 colours.
    out = VIOLET;

    // A wave whose amplitude swells toward the middle, drawn as a thick stroke.
    // Sine from a 16-step table of one period (scaled by 100).
    static const int SINE[16] = {0, 38, 71, 92, 100, 92, 71, 38, 0, -38, -71, -92, -100, -92, -71, -38};
    int phase = (x * 32) / 256;  // two periods across the tile
    int next = (phase + 1) % 16;
    int within = (x * 32) % 256;
    int s = SINE[phase % 16] + ((SINE[next] - SINE[phase % 16]) * within) / 256;
    int envelope = 128 - (x > 128 ? x - 128 : 128 - x);  // 0 at the edges, 128 at the centre
    int wave_y = 128 - (s * envelope * 70) / (100 * 128);
    int distance = y > wave_y ? y - wave_y : wave_y - y;
    if (distance < 14) out = WHITE;
    return true;
}

// Averages the design over one output pixel; returns the share of covered
// samples out of SUB * SUB.
int render_pixel(int size, int px, int py, rgb &out) {
    int covered = 0;
    rgb sum = {0, 0, 0};
    for (int sy = 0; sy < SUB; ++sy) {
        for (int sx = 0; sx < SUB; ++sx) {
            int x = ((px * SUB + sx) * 256) / (size * SUB);
            int y = ((py * SUB + sy) * 256) / (size * SUB);
            rgb c;
            if (!design_sample(x, y, c)) continue;
            ++covered;
            sum.r += c.r;
            sum.g += c.g;
            sum.b += c.b;
        }
    }
    if (covered) out = {sum.r / covered, sum.g / covered, sum.b / covered};
    return covered;
}

// The 16 colours: black for the transparent pixels (Windows draws an icon by
// ANDing the mask and then XORing the colours, and only black leaves the
// background as it was), then 15 evenly spaced shades from violet to white,
// the only colours that averaging the design's samples can give.
std::vector<rgb> icon_palette() {
    std::vector<rgb> colours = {{0, 0, 0}};
    for (int i = 0; i < 15; ++i)
        colours.push_back({VIOLET.r + (WHITE.r - VIOLET.r) * i / 14, VIOLET.g + (WHITE.g - VIOLET.g) * i / 14,
                           VIOLET.b + (WHITE.b - VIOLET.b) * i / 14});
    return colours;
}

// The nearest of the shades, never the transparent pixels' black.
int nearest(const std::vector<rgb> &palette, rgb c) {
    int best = 1;
    long best_distance = -1;
    for (size_t i = 1; i < palette.size(); ++i) {
        long dr = palette[i].r - c.r, dg = palette[i].g - c.g, db = palette[i].b - c.b;
        long d = dr * dr * 3 + dg * dg * 4 + db * db * 2;
        if (best_distance < 0 || d < best_distance) {
            best_distance = d;
            best = static_cast<int>(i);
        }
    }
    return best;
}

// An image may list fewer colours than its bits can index: keeping only those
// it uses saves four bytes a colour in every installer.
void keep_used_colours(std::vector<rgb> &palette, std::vector<int> &index) {
    std::vector<int> renumbered(palette.size(), -1);
    std::vector<rgb> used;
    for (int &i : index) {
        if (renumbered[i] < 0) {
            renumbered[i] = static_cast<int>(used.size());
            used.push_back(palette[i]);
        }
        i = renumbered[i];
    }
    palette = used;
}

int row_bytes(int width, int bits) { return ((width * bits + 31) / 32) * 4; }

// One icon image: BITMAPINFOHEADER (height doubled for the mask), palette,
// colour rows bottom-up, then the 1-bit transparency mask, also bottom-up.
std::vector<uint8_t> icon_image(int size) {
    std::vector<rgb> palette = icon_palette();
    std::vector<int> index(size * size, 0);  // black where transparent
    std::vector<bool> transparent(size * size, true);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            rgb c;
            if (render_pixel(size, x, y, c) * 2 < SUB * SUB) continue;  // less than half covered
            transparent[y * size + x] = false;
            index[y * size + x] = nearest(palette, c);
        }
    }

    keep_used_colours(palette, index);

    std::vector<uint8_t> out;
    const int colour_row = row_bytes(size, BITS), mask_row = row_bytes(size, 1);
    put32(out, 40);
    put32(out, size);
    put32(out, size * 2);
    put16(out, 1);
    put16(out, BITS);
    put32(out, 0);  // BI_RGB
    put32(out, (colour_row + mask_row) * size);
    put32(out, 0);
    put32(out, 0);
    put32(out, palette.size());
    put32(out, 0);
    for (const rgb &c : palette) {
        out.push_back(c.b);
        out.push_back(c.g);
        out.push_back(c.r);
        out.push_back(0);
    }
    for (int y = size - 1; y >= 0; --y) {
        std::vector<uint8_t> row(colour_row, 0);
        for (int x = 0; x < size; x += 2) row[x / 2] = index[y * size + x] << 4 | index[y * size + x + 1];
        out.insert(out.end(), row.begin(), row.end());
    }
    for (int y = size - 1; y >= 0; --y) {
        std::vector<uint8_t> row(mask_row, 0);
        for (int x = 0; x < size; ++x)
            if (transparent[y * size + x]) row[x / 8] |= 0x80 >> (x % 8);
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: icon_generator <output.ico>\n");
        return 2;
    }
    const int count = sizeof SIZES / sizeof SIZES[0];
    std::vector<std::vector<uint8_t>> images;
    for (int size : SIZES) images.push_back(icon_image(size));

    std::vector<uint8_t> file;
    put16(file, 0);
    put16(file, 1);  // icon
    put16(file, count);
    uint32_t offset = 6 + 16 * count;
    for (int i = 0; i < count; ++i) {
        file.push_back(SIZES[i]);
        file.push_back(SIZES[i]);
        file.push_back(1 << BITS);  // colour count
        file.push_back(0);
        put16(file, 1);
        put16(file, BITS);
        put32(file, images[i].size());
        put32(file, offset);
        offset += images[i].size();
    }
    for (const std::vector<uint8_t> &image : images) file.insert(file.end(), image.begin(), image.end());

    FILE *out = std::fopen(argv[1], "wb");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    if (std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "%s: write failed\n", argv[1]);
        return 1;
    }
    return 0;
}
