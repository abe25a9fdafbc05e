// Writes five stand-in plug-in builds for the packer to chew on when no real
// builds are supplied. They are shaped like five builds of one program: a
// large resource section that all share, code that differs between the 32-
// and 64-bit builds, functions and strings that only some builds carry, and
// addresses that move whenever the layout before them moves. Everything comes
// from fixed seeds and our own generator, so every machine writes the same
// bytes.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/shared/little_endian.h"
#include "tools/shared/splitmix64.h"

namespace {

using bytes = std::vector<uint8_t>;
using little_endian::put16;
using little_endian::put32;
using little_endian::put64;

// Draws below a bound, in a range and by chance, from the shared generator.
struct rng : splitmix64 {
    using splitmix64::splitmix64;
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(((next() >> 32) * n) >> 32); }
    uint32_t between(uint32_t lo, uint32_t hi) { return lo + below(hi - lo + 1); }
    bool chance(uint32_t percent) { return below(100) < percent; }
};

enum kind { KIND_CLAP = 1, KIND_FL = 2, KIND_STANDALONE = 4, KIND_ALL = 7 };

struct build {
    const char *name;
    bool is64;
    kind flavour;
    uint32_t size;
};

const build BUILDS[] = {
    {"target_cl64", true, KIND_CLAP, 6304270},
    {"target_cl32", false, KIND_CLAP, 6000654},
    {"target_fl64", true, KIND_FL, 6292494},
    {"target_fl32", false, KIND_FL, 5989902},
    {"target_st64", true, KIND_STANDALONE, 6497294},
};

const uint32_t RESOURCE_SIZE = 5323040;
const uint32_t FUNCTION_COUNT = 2660;
const uint32_t STRING_COUNT = 2600;
const uint32_t TABLE_COUNT = 44;
const uint32_t VTABLE_COUNT = 220;
const uint32_t DATA_SIZE = 20480;
const uint32_t HEADER_SIZE = 0x400;

struct function {
    uint64_t seed;
    uint32_t length;   // 64-bit body length before alignment
    uint32_t members;  // kinds that carry it
    bool varies;       // compiled differently per kind (wrapper glue)
};

struct table {
    uint64_t seed;
    uint32_t length;
    uint32_t members;
};

struct vtable {
    uint32_t members;
    std::vector<uint32_t> slots;  // function indices
};

struct program {
    std::vector<function> functions;
    std::vector<uint32_t> core;  // functions present in every build: the only call targets
    std::vector<std::string> strings;
    std::vector<uint32_t> string_members;
    std::vector<table> tables;
    std::vector<vtable> vtables;
};

uint32_t pick_members(rng &r, uint32_t core_percent) {
    if (r.chance(core_percent)) return KIND_ALL;
    switch (r.below(8)) {
    case 0:
    case 1: return KIND_CLAP;
    case 2: return KIND_FL;
    case 3: return KIND_CLAP | KIND_FL;
    default: return KIND_STANDALONE;
    }
}

std::string make_string(rng &r) {
    static const char *const parts[] = {
        "quenthal", "vox", "gain", "mix", "filter", "cutoff", "reso", "env", "attack", "decay",
        "sustain", "release", "lfo", "rate", "depth", "voice", "preset", "bank", "render", "panel",
        "knob", "slider", "meter", "oversample", "latency", "param", "state", "host", "buffer", "window"};
    static const char separators[] = {'.', '_', ' ', '/'};
    std::string text;
    uint32_t count = r.between(2, 5);
    char separator = separators[r.below(4)];
    for (uint32_t i = 0; i < count; ++i) {
        if (i) text += separator;
        text += parts[r.below(30)];
    }
    if (r.chance(30)) text += " %d";
    return text;
}

program make_program() {
    rng r(0x51A7E5EEDull);
    program p;
    for (uint32_t i = 0; i < FUNCTION_COUNT; ++i) {
        function f;
        f.seed = r.next();
        // Mostly small functions, a few large ones, as a compiler leaves them.
        f.length = r.chance(8) ? r.between(600, 2400) : r.between(24, 360);
        f.members = pick_members(r, 80);
        if (f.members == KIND_STANDALONE) f.length *= 3;  // its own audio and window layers
        f.varies = f.members == KIND_ALL && r.chance(3);
        if (f.members == KIND_ALL) p.core.push_back(i);
        p.functions.push_back(f);
    }
    for (uint32_t i = 0; i < STRING_COUNT; ++i) {
        p.strings.push_back(make_string(r));
        p.string_members.push_back(pick_members(r, 88));
    }
    for (uint32_t i = 0; i < TABLE_COUNT; ++i)
        p.tables.push_back({r.next(), r.between(512, 6144), r.chance(85) ? KIND_ALL : KIND_STANDALONE});
    for (uint32_t i = 0; i < VTABLE_COUNT; ++i) {
        vtable v;
        v.members = pick_members(r, 80);
        uint32_t count = r.between(3, 24);
        for (uint32_t s = 0; s < count; ++s) v.slots.push_back(p.core[r.below(p.core.size())]);
        p.vtables.push_back(v);
    }
    return p;
}

uint32_t align_up(uint32_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

enum fixup_type { CALL_RELATIVE, DATA_RELATIVE, DATA_ABSOLUTE };

struct fixup {
    uint32_t at;      // offset in the body of the 4-byte field
    fixup_type type;
    uint32_t target;  // function index, or string index for data
};

struct body {
    bytes code;
    std::vector<fixup> fixups;
};

// Instruction-like filler: short opcode patterns with operands, so the bytes
// have the skew of real code rather than being uniform noise.
void emit_filler(rng &r, bool is64, bytes &code) {
    static const uint8_t prefixes64[] = {0x48, 0x4C, 0x49, 0x41};
    static const uint8_t opcodes[] = {0x89, 0x8B, 0x01, 0x29, 0x31, 0x39, 0x85, 0x83, 0xC7, 0x0F, 0xF3, 0x66};
    if (is64 && r.chance(60)) code.push_back(prefixes64[r.below(4)]);
    code.push_back(opcodes[r.below(sizeof opcodes)]);
    uint32_t operands = r.below(4);
    for (uint32_t i = 0; i < operands; ++i)
        code.push_back(static_cast<uint8_t>(r.chance(50) ? r.below(16) * 8 + 0x40 : r.next()));
}

body make_body(const program &p, uint32_t index, const build &b) {
    const function &f = p.functions[index];
    uint64_t salt = (b.is64 ? 0x6464ull : 0x3232ull) ^ (f.varies ? uint64_t(b.flavour) << 20 : 0);
    rng r(f.seed ^ salt * 0x9E3779B97F4A7C15ull);
    uint32_t length = b.is64 ? f.length : f.length * 5 / 9 + 8;
    body out;
    out.code = {0x55};
    while (out.code.size() < length) {
        uint32_t choice = r.below(100);
        if (choice < 6) {
            out.code.push_back(0xE8);
            out.fixups.push_back({uint32_t(out.code.size()), CALL_RELATIVE, p.core[r.below(p.core.size())]});
            out.code.insert(out.code.end(), 4, 0);
        } else if (choice < 10) {
            if (b.is64) out.code.insert(out.code.end(), {0x48, 0x8D, 0x0D});
            else out.code.push_back(0x68);
            uint32_t target = r.below(STRING_COUNT);
            while (p.string_members[target] != KIND_ALL) target = (target + 1) % STRING_COUNT;
            out.fixups.push_back({uint32_t(out.code.size()), b.is64 ? DATA_RELATIVE : DATA_ABSOLUTE, target});
            out.code.insert(out.code.end(), 4, 0);
        } else {
            emit_filler(r, b.is64, out.code);
        }
    }
    out.code.push_back(0xC3);
    // A few functions carry a build-specific constant or two in the other flavours.
    rng tweak(f.seed ^ uint64_t(b.flavour) * 0xD1B54A32D192ED03ull);
    if (b.flavour != KIND_CLAP && tweak.chance(b.flavour == KIND_STANDALONE ? 14 : 9)) {
        uint32_t count = tweak.between(1, 3);
        for (uint32_t i = 0; i < count; ++i) out.code[1 + tweak.below(out.code.size() - 2)] ^= 0x5A;
    }
    return out;
}

struct section {
    const char *name;
    uint32_t rva;
    uint32_t file_offset;
    bytes content;
};

struct image {
    uint64_t image_base;
    std::vector<uint32_t> function_rva;  // 0 when absent
    std::vector<uint32_t> string_rva;
    std::vector<uint32_t> relocations;   // rvas of absolute addresses
};

bool member(uint32_t members, const build &b) { return (members & b.flavour) != 0; }

section make_text(const program &p, const build &b, image &img, std::vector<body> &bodies) {
    section text{".text", 0x1000, HEADER_SIZE, {}};
    img.function_rva.assign(p.functions.size(), 0);
    bodies.assign(p.functions.size(), body{});
    uint32_t at = 0;
    for (uint32_t i = 0; i < p.functions.size(); ++i) {
        if (!member(p.functions[i].members, b)) continue;
        bodies[i] = make_body(p, i, b);
        img.function_rva[i] = text.rva + at;
        at = align_up(at + bodies[i].code.size(), 16);
    }
    text.content.assign(at, 0xCC);
    for (uint32_t i = 0; i < p.functions.size(); ++i) {
        if (!img.function_rva[i]) continue;
        uint32_t offset = img.function_rva[i] - text.rva;
        std::memcpy(&text.content[offset], bodies[i].code.data(), bodies[i].code.size());
    }
    return text;
}

void resolve_text(section &text, const image &img, const std::vector<body> &bodies) {
    for (uint32_t i = 0; i < bodies.size(); ++i) {
        if (!img.function_rva[i]) continue;
        for (const fixup &f : bodies[i].fixups) {
            uint32_t site = img.function_rva[i] + f.at;
            uint8_t *field = &text.content[site - text.rva];
            if (f.type == CALL_RELATIVE) put32(field, img.function_rva[f.target] - (site + 4));
            else if (f.type == DATA_RELATIVE) put32(field, img.string_rva[f.target] - (site + 4));
            else put32(field, static_cast<uint32_t>(img.image_base + img.string_rva[f.target]));
        }
    }
}

void collect_text_relocations(image &img, const std::vector<body> &bodies) {
    for (uint32_t i = 0; i < bodies.size(); ++i) {
        if (!img.function_rva[i]) continue;
        for (const fixup &f : bodies[i].fixups)
            if (f.type == DATA_ABSOLUTE) img.relocations.push_back(img.function_rva[i] + f.at);
    }
}

section make_rdata(const program &p, const build &b, uint32_t rva, uint32_t file_offset, image &img) {
    section rdata{".rdata", rva, file_offset, {}};
    for (const table &t : p.tables) {
        if (!member(t.members, b)) continue;
        rng r(t.seed);
        for (uint32_t i = 0; i < t.length; ++i) rdata.content.push_back(static_cast<uint8_t>(r.next() >> 56));
        rdata.content.resize(align_up(rdata.content.size(), 16), 0);
    }
    uint32_t pointer = b.is64 ? 8 : 4;
    for (const vtable &v : p.vtables) {
        if (!member(v.members, b)) continue;
        for (uint32_t slot : v.slots) {
            uint32_t at = rdata.content.size();
            rdata.content.resize(at + pointer, 0);
            uint64_t address = img.image_base + img.function_rva[slot];
            if (b.is64) put64(&rdata.content[at], address);
            else put32(&rdata.content[at], static_cast<uint32_t>(address));
            img.relocations.push_back(rva + at);
        }
    }
    img.string_rva.assign(p.strings.size(), 0);
    for (uint32_t i = 0; i < p.strings.size(); ++i) {
        if (!member(p.string_members[i], b)) continue;
        img.string_rva[i] = rva + rdata.content.size();
        rdata.content.insert(rdata.content.end(), p.strings[i].begin(), p.strings[i].end());
        rdata.content.push_back(0);
    }
    return rdata;
}

section make_data(uint32_t rva, uint32_t file_offset) {
    section data{".data", rva, file_offset, {}};
    rng r(0xDA7A);
    for (uint32_t i = 0; i < DATA_SIZE; ++i)
        data.content.push_back(r.chance(60) ? 0 : static_cast<uint8_t>(r.next()));
    return data;
}

section make_resources(uint32_t rva, uint32_t file_offset) {
    section rsrc{".rsrc", rva, file_offset, {}};
    rsrc.content.resize(RESOURCE_SIZE);
    rng r(0x125C);
    for (uint32_t i = 0; i + 8 <= RESOURCE_SIZE; i += 8) put64(&rsrc.content[i], r.next());
    return rsrc;
}

section make_relocations(const image &img, bool is64, uint32_t rva, uint32_t file_offset) {
    section reloc{".reloc", rva, file_offset, {}};
    std::vector<uint32_t> sites = img.relocations;
    // Already in rva order within each section, and sections ascend.
    size_t i = 0;
    while (i < sites.size()) {
        uint32_t page = sites[i] & ~0xFFFu;
        size_t start = reloc.content.size();
        reloc.content.resize(start + 8, 0);
        for (; i < sites.size() && (sites[i] & ~0xFFFu) == page; ++i) {
            uint32_t at = reloc.content.size();
            reloc.content.resize(at + 2);
            put16(&reloc.content[at], ((is64 ? 10u : 3u) << 12) | (sites[i] & 0xFFF));
        }
        reloc.content.resize(align_up(reloc.content.size(), 4), 0);
        put32(&reloc.content[start], page);
        put32(&reloc.content[start + 4], reloc.content.size() - start);
    }
    return reloc;
}

void write_header(bytes &file, const build &b, const std::vector<section> &sections, uint32_t image_size) {
    rng r(0x4EAD ^ uint64_t(b.size));
    file[0] = 'M';
    file[1] = 'Z';
    put32(&file[0x3C], 0x80);
    static const char stub[] = "This program cannot be run in DOS mode.\r\r\n$";
    std::memcpy(&file[0x4E], stub, sizeof stub - 1);
    uint8_t *pe = &file[0x80];
    std::memcpy(pe, "PE\0\0", 4);
    put16(pe + 4, b.is64 ? 0x8664 : 0x14C);
    put16(pe + 6, sections.size());
    put32(pe + 8, static_cast<uint32_t>(r.next()));  // link time stamp
    put16(pe + 20, b.is64 ? 240 : 224);
    put16(pe + 22, b.flavour == KIND_STANDALONE ? 0x22 : 0x2022);
    uint8_t *optional = pe + 24;
    put16(optional, b.is64 ? 0x20B : 0x10B);
    put32(optional + 4, sections[0].content.size());
    put32(optional + 16, sections[0].rva);
    put32(optional + 56, image_size);
    put32(optional + 60, HEADER_SIZE);
    uint8_t *table = optional + (b.is64 ? 240 : 224);
    for (const section &s : sections) {
        std::memcpy(table, s.name, std::strlen(s.name));
        put32(table + 8, s.content.size());
        put32(table + 12, s.rva);
        put32(table + 16, align_up(s.content.size(), 512));
        put32(table + 20, s.file_offset);
        table += 40;
    }
}

// The section contents are laid out first; the last bytes of the file stand
// for its debug directory and signature, which differ in every build.
bool make_build(const program &p, const build &b, bytes &file) {
    image img;
    img.image_base = b.is64 ? 0x180000000ull : 0x10000000ull;
    std::vector<body> bodies;
    std::vector<section> sections;
    sections.push_back(make_text(p, b, img, bodies));
    auto next_place = [&](uint32_t &rva, uint32_t &offset) {
        const section &last = sections.back();
        rva = align_up(last.rva + last.content.size(), 0x1000);
        offset = align_up(last.file_offset + last.content.size(), 512);
    };
    uint32_t rva, offset;
    next_place(rva, offset);
    sections.push_back(make_rdata(p, b, rva, offset, img));
    resolve_text(sections[0], img, bodies);
    if (!b.is64) {
        std::vector<uint32_t> data_sites = img.relocations;
        img.relocations.clear();
        collect_text_relocations(img, bodies);
        img.relocations.insert(img.relocations.end(), data_sites.begin(), data_sites.end());
    }
    next_place(rva, offset);
    sections.push_back(make_data(rva, offset));
    next_place(rva, offset);
    sections.push_back(make_resources(rva, offset));
    next_place(rva, offset);
    sections.push_back(make_relocations(img, b.is64, rva, offset));
    uint32_t end = sections.back().file_offset + sections.back().content.size();
    if (end > b.size) {
        std::fprintf(stderr, "generate_samples: %s needs %u bytes, more than its size %u\n", b.name, end, b.size);
        return false;
    }
    file.assign(b.size, 0);
    for (const section &s : sections) std::memcpy(&file[s.file_offset], s.content.data(), s.content.size());
    write_header(file, b, sections, align_up(rva + sections.back().content.size(), 0x1000));
    rng tail(0x7A11ull ^ uint64_t(b.size) << 8);
    for (uint32_t i = align_up(end, 8); i < b.size; ++i) file[i] = static_cast<uint8_t>(tail.next() >> 40);
    return true;
}

bool write_file(const std::string &path, const bytes &content) {
    FILE *out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    bool written = std::fwrite(content.data(), 1, content.size(), out) == content.size();
    return std::fclose(out) == 0 && written;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: generate_samples <out-dir>\n");
        return 2;
    }
    std::error_code ignored;  // a missing folder shows up as the write failure below
    std::filesystem::create_directories(argv[1], ignored);
    program p = make_program();
    for (const build &b : BUILDS) {
        bytes file;
        if (!make_build(p, b, file)) return 1;
        std::string path = std::string(argv[1]) + "/" + b.name;
        if (!write_file(path, file)) {
            std::fprintf(stderr, "generate_samples: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
