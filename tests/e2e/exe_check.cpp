// Checks the built installer executable from the outside, by reading its PE
// file: its resources, its size beyond the embedded data (and beyond a
// signature), that the image and the marks of the embedded data need no
// relocation to load anywhere, and where the loader looks for DLLs.
//
//   exe_check resources <exe> <manifest> <version>
//   exe_check layout <exe> <pool> <directory> <licence> <overhead limit in bytes>
// Prints what it found; exits 0 when every check passed, 1 otherwise.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<uint8_t>;

int failures = 0;

bool check(bool condition, const std::string &what) {
    if (!condition) {
        std::printf("FAIL: %s\n", what.c_str());
        ++failures;
    }
    return condition;
}

bool read_file(const char *path, bytes &out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

struct section {
    std::string name;
    uint32_t rva, virtual_size, file_offset, file_size, flags;
};

const uint32_t SCN_MEM_WRITE = 0x80000000;

// The parts of a PE32+ image these checks need. Every read is bounds-checked:
// a malformed file fails the check, it does not crash it.
struct image {
    bytes file;
    uint64_t base = 0;
    uint16_t characteristics = 0, subsystem = 0, dll_characteristics = 0;
    uint32_t entry = 0;
    uint32_t directory_rva[16] = {}, directory_size[16] = {};
    std::vector<section> sections;

    bool has(size_t offset, size_t length) const { return offset <= file.size() && length <= file.size() - offset; }
    uint64_t read(size_t offset, int width) const {
        if (!has(offset, width)) return 0;
        uint64_t v = 0;
        for (int i = width - 1; i >= 0; --i) v = (v << 8) | file[offset + i];
        return v;
    }
    const section *section_of(uint32_t rva) const {
        for (const section &s : sections)
            if (rva >= s.rva && rva - s.rva < std::max(s.virtual_size, s.file_size)) return &s;
        return nullptr;
    }
    // File offset of an RVA, or SIZE_MAX when it has no bytes in the file.
    size_t offset_of(uint32_t rva) const {
        const section *s = section_of(rva);
        if (!s || rva - s->rva >= s->file_size) return SIZE_MAX;
        return s->file_offset + (rva - s->rva);
    }
    uint64_t read_rva(uint32_t rva, int width) const {
        size_t offset = offset_of(rva);
        return offset == SIZE_MAX ? 0 : read(offset, width);
    }
};

bool load_image(const char *path, image &pe) {
    if (!check(read_file(path, pe.file), std::string("cannot read ") + path)) return false;
    if (!check(pe.read(0, 2) == 0x5A4D, "no MZ header")) return false;
    size_t nt = pe.read(0x3C, 4);
    if (!check(pe.read(nt, 4) == 0x4550 && pe.read(nt + 24, 2) == 0x20B, "not a PE32+ image")) return false;
    size_t sections = pe.read(nt + 6, 2), optional_size = pe.read(nt + 20, 2), optional = nt + 24;
    pe.characteristics = pe.read(nt + 22, 2);
    pe.entry = pe.read(optional + 16, 4);
    pe.base = pe.read(optional + 24, 8);
    pe.subsystem = pe.read(optional + 68, 2);
    pe.dll_characteristics = pe.read(optional + 70, 2);
    uint32_t directories = pe.read(optional + 108, 4);
    for (uint32_t i = 0; i < directories && i < 16; ++i) {
        pe.directory_rva[i] = pe.read(optional + 112 + i * 8, 4);
        pe.directory_size[i] = pe.read(optional + 116 + i * 8, 4);
    }
    size_t table = optional + optional_size;
    if (!check(pe.has(table, sections * 40), "section table past the end of the file")) return false;
    for (size_t i = 0; i < sections; ++i) {
        size_t at = table + i * 40;
        section s;
        s.name.assign(reinterpret_cast<const char *>(&pe.file[at]), strnlen(reinterpret_cast<const char *>(&pe.file[at]), 8));
        s.virtual_size = pe.read(at + 8, 4);
        s.rva = pe.read(at + 12, 4);
        s.file_size = pe.read(at + 16, 4);
        s.file_offset = pe.read(at + 20, 4);
        s.flags = pe.read(at + 36, 4);
        pe.sections.push_back(s);
    }
    return true;
}

// Resources: type -> id -> language -> (rva, size). Named entries are kept
// under id 0x80000000 so that they show up as unexpected.
struct resource {
    uint32_t rva, size;
};
using resource_tree = std::map<uint32_t, std::map<uint32_t, std::map<uint32_t, resource>>>;

std::vector<std::pair<uint32_t, uint32_t>> resource_entries(const image &pe, uint32_t root, uint32_t table) {
    std::vector<std::pair<uint32_t, uint32_t>> entries;
    uint32_t count = pe.read_rva(root + table + 12, 2) + pe.read_rva(root + table + 14, 2);
    for (uint32_t i = 0; i < count && i < 1000; ++i) {
        uint32_t name = pe.read_rva(root + table + 16 + i * 8, 4);
        uint32_t target = pe.read_rva(root + table + 20 + i * 8, 4);
        entries.push_back({(name & 0x80000000) ? 0x80000000 : name, target});
    }
    return entries;
}

resource_tree read_resources(const image &pe) {
    resource_tree tree;
    uint32_t root = pe.directory_rva[2];
    if (!check(root && pe.directory_size[2], "no resource directory")) return tree;
    for (auto [type, type_target] : resource_entries(pe, root, 0))
        for (auto [id, id_target] : resource_entries(pe, root, type_target & 0x7FFFFFFF))
            for (auto [language, data] : resource_entries(pe, root, id_target & 0x7FFFFFFF))
                tree[type][id][language] = {static_cast<uint32_t>(pe.read_rva(root + data, 4)),
                                            static_cast<uint32_t>(pe.read_rva(root + data + 4, 4))};
    return tree;
}

bytes resource_bytes(const image &pe, resource r) {
    size_t offset = pe.offset_of(r.rva);
    if (offset == SIZE_MAX || !pe.has(offset, r.size)) return {};
    return bytes(pe.file.begin() + offset, pe.file.begin() + offset + r.size);
}

// The one resource of `type` must be `id` in US English only; returns its bytes.
bytes single_resource(const image &pe, resource_tree &tree, uint32_t type, uint32_t id, const char *what) {
    auto &ids = tree[type];
    if (!check(ids.size() == 1 && ids.count(id), std::string(what) + ": expected exactly id " + std::to_string(id)))
        return {};
    auto &languages = ids[id];
    if (!check(languages.size() == 1 && languages.count(1033), std::string(what) + ": expected language 1033 only"))
        return {};
    return resource_bytes(pe, languages[1033]);
}

const uint32_t RT_ICON = 3, RT_GROUP_ICON = 14, RT_VERSION = 16, RT_MANIFEST = 24;

void check_manifest(const image &pe, resource_tree &tree, const bytes &expected) {
    bytes manifest = single_resource(pe, tree, RT_MANIFEST, 1, "manifest");
    check(manifest == expected, "the manifest resource differs from the manifest file");
    std::string text(manifest.begin(), manifest.end());
    const char *required[] = {
        "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>",
        "xmlns=\"urn:schemas-microsoft-com:asm.v1\"",
        "manifestVersion=\"1.0\"",
        "xmlns=\"urn:schemas-microsoft-com:asm.v3\"",
        "level=\"requireAdministrator\"",
        "uiAccess=\"false\"",
        "name=\"Microsoft.Windows.Common-Controls\"",
        "version=\"6.0.0.0\"",
        "publicKeyToken=\"6595b64144ccf1df\"",
    };
    check(text.rfind(required[0], 0) == 0, "the manifest does not begin with its XML declaration");
    for (const char *attribute : required) check(text.find(attribute) != std::string::npos, std::string("manifest lacks ") + attribute);
    std::printf("manifest: %zu bytes\n", manifest.size());
}

// The group lists 16 and 32 pixels at 4 bits per pixel, as icons 1 and 2, and
// each icon's own header agrees with its group entry.
void check_icons(const image &pe, resource_tree &tree) {
    bytes group = single_resource(pe, tree, RT_GROUP_ICON, 1, "icon group");
    if (!check(group.size() >= 6 && group[2] == 1 && group[4] == 2 && group.size() == 6 + 2 * 14u,
               "the icon group is not an icon directory of 2 images"))
        return;
    std::set<std::pair<int, int>> formats;
    std::set<uint32_t> ids;
    for (int i = 0; i < 2; ++i) {
        const uint8_t *entry = &group[6 + i * 14];
        int width = entry[0], height = entry[1], bits = entry[6] | entry[7] << 8;
        uint32_t size = entry[8] | entry[9] << 8 | entry[10] << 16 | static_cast<uint32_t>(entry[11]) << 24;
        uint32_t id = entry[12] | entry[13] << 8;
        formats.insert({width, bits});
        ids.insert(id);
        std::printf("icon %u: %dx%d, %d bits per pixel, %u bytes\n", id, width, height, bits, size);
        check(width == height, "icon " + std::to_string(id) + " is not square");
        auto &languages = tree[RT_ICON][id];
        if (!check(languages.size() == 1 && languages.count(1033), "icon " + std::to_string(id) + ": expected language 1033 only"))
            continue;
        bytes image_bytes = resource_bytes(pe, languages[1033]);
        check(image_bytes.size() == size && size >= 40, "icon " + std::to_string(id) + ": size differs from its group entry");
        if (image_bytes.size() < 40) continue;
        auto u32 = [&](int at) { return image_bytes[at] | image_bytes[at + 1] << 8 | image_bytes[at + 2] << 16 | image_bytes[at + 3] << 24; };
        check(u32(4) == width && u32(8) == 2 * height && (image_bytes[14] | image_bytes[15] << 8) == bits,
              "icon " + std::to_string(id) + ": bitmap header disagrees with its group entry");
    }
    check(formats == std::set<std::pair<int, int>>{{16, 4}, {32, 4}},
          "the icon images are not 16 and 32 pixels at 4 bits per pixel");
    check(ids == std::set<uint32_t>{1, 2}, "the icon images are not resources 1 and 2");
    check(tree[RT_ICON].size() == 2, "there are icon resources outside the group");
}

// UTF-16LE of an ASCII text with its terminating NUL.
bytes utf16(const std::string &text) {
    bytes wide;
    for (char c : text) wide.insert(wide.end(), {static_cast<uint8_t>(c), 0});
    wide.insert(wide.end(), {0, 0});
    return wide;
}

// The fixed file info gives major.minor.patch.0 as both file and product
// version; the string table names the product, its maker and the version.
void check_version(const image &pe, resource_tree &tree, const std::string &version) {
    bytes info = single_resource(pe, tree, RT_VERSION, 1, "version");
    auto u32 = [&](size_t at) { return info[at] | info[at + 1] << 8 | info[at + 2] << 16 | static_cast<uint32_t>(info[at + 3]) << 24; };
    if (!check(info.size() >= 92 && u32(40) == 0xFEEF04BD, "the version resource has no fixed file info")) return;
    unsigned major = 0, minor = 0, patch = 0;
    std::sscanf(version.c_str(), "%u.%u.%u", &major, &minor, &patch);
    uint32_t high = major << 16 | minor, low = patch << 16;
    check(u32(48) == high && u32(52) == low && u32(56) == high && u32(60) == low,
          "the file and product versions are not " + version + ".0");
    const std::pair<const char *, std::string> strings[] = {
        {"CompanyName", "Brindlewoodsonics"}, {"FileDescription", "Quenthalvox Plugin Installer"},
        {"ProductName", "Quenthalvox"}, {"FileVersion", version}, {"ProductVersion", version}};
    for (const auto &[key, value] : strings) {
        // A string's value follows its key on the next 4-byte boundary.
        bytes wide_key = utf16(key), wide_value = utf16(value);
        size_t at = std::search(info.begin(), info.end(), wide_key.begin(), wide_key.end()) - info.begin();
        at = (at + wide_key.size() + 3) & ~size_t(3);
        check(at + wide_value.size() <= info.size() && std::equal(wide_value.begin(), wide_value.end(), info.begin() + at),
              std::string("the version strings lack ") + key + " \"" + value + "\"");
    }
    std::printf("version: %s\n", version.c_str());
}

int command_resources(const char *exe, const char *manifest_file, const char *version) {
    image pe;
    bytes manifest;
    if (!load_image(exe, pe) || !check(read_file(manifest_file, manifest), "cannot read the manifest file")) return 1;
    resource_tree tree = read_resources(pe);
    check_manifest(pe, tree, manifest);
    check_icons(pe, tree);
    check_version(pe, tree, version);
    for (auto &[type, ids] : tree)
        check(type == RT_ICON || type == RT_GROUP_ICON || type == RT_MANIFEST || type == RT_VERSION,
              "unexpected resource type " + std::to_string(type));
    return failures ? 1 : 0;
}

// Finds the record of two marks around `blob`, each its distance from the
// record, and checks that the blob and its record are read-only.
void check_embedded(const image &pe, const bytes &blob, const char *name) {
    for (const section &s : pe.sections) {
        for (uint32_t at = 0; at + 16 <= s.file_size; at += 8) {
            uint32_t record = s.rva + at;
            uint64_t start = record + pe.read(s.file_offset + at, 8), end = record + pe.read(s.file_offset + at + 8, 8);
            if (end - start != blob.size() || start > UINT32_MAX) continue;
            size_t offset = pe.offset_of(static_cast<uint32_t>(start));
            if (offset == SIZE_MAX || !pe.has(offset, blob.size()) ||
                !std::equal(blob.begin(), blob.end(), pe.file.begin() + offset))
                continue;
            std::printf("%s: %zu bytes, marks at RVA 0x%X in %s\n", name, blob.size(), record, s.name.c_str());
            check(!(s.flags & SCN_MEM_WRITE), std::string(name) + ": the marks lie in a writable section");
            check(!(pe.section_of(static_cast<uint32_t>(start))->flags & SCN_MEM_WRITE),
                  std::string(name) + ": the data lies in a writable section");
            return;
        }
    }
    check(false, std::string(name) + ": no marks around its bytes found in the image");
}

int command_layout(const char *exe, const char *pool_file, const char *directory_file, const char *licence_file, long limit) {
    image pe;
    bytes pool, directory, licence;
    if (!load_image(exe, pe)) return 1;
    if (!check(read_file(pool_file, pool) && read_file(directory_file, directory) && read_file(licence_file, licence),
               "cannot read the embedded inputs"))
        return 1;

    check(pe.subsystem == 2, "not a GUI program");
    check(pe.entry != 0, "no entry point");
    check(!(pe.characteristics & 0x0001), "relocations are stripped");
    check((pe.dll_characteristics & 0x0160) == 0x0160, "missing ASLR (dynamic base, high entropy) or DEP");
    // Nothing in the image holds an absolute address, so it loads anywhere
    // without base relocations (and the linker writes no section for them).
    check(pe.directory_size[5] == 0, "the image needs base relocations");
    // The loader brings in the imports' own dependencies from System32 only:
    // DependentLoadFlags, the 16 bits at offset 78 of the load configuration.
    uint32_t config = pe.directory_rva[10];
    check(config && pe.directory_size[10] >= 80 && pe.read_rva(config, 4) >= 80 && pe.read_rva(config + 78, 2) == 0x800,
          "the load configuration does not restrict the imports' dependencies to System32");
    check_embedded(pe, pool, "payload pool");
    check_embedded(pe, directory, "payload directory");
    check_embedded(pe, licence, "licence text");

    // An Authenticode signature is the certificate table appended to the
    // image; its directory entry gives a file offset, not an RVA. It is the
    // signer's, not the executable's own size.
    uint32_t signature_offset = pe.directory_rva[4], signature = pe.directory_size[4];
    if (signature)
        check(signature_offset <= pe.file.size() && signature == pe.file.size() - signature_offset,
              "the certificate table does not end the file");
    long embedded = static_cast<long>(pool.size() + directory.size() + licence.size());
    long overhead = static_cast<long>(pe.file.size()) - signature - embedded;
    std::printf("executable: %zu bytes; signature: %u bytes; embedded data: %ld bytes; the rest: %ld bytes (limit %ld)\n",
                pe.file.size(), signature, embedded, overhead, limit);
    check(overhead <= limit, "the executable beyond its embedded data exceeds the limit");
    return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "resources" && argc == 5) return command_resources(argv[2], argv[3], argv[4]);
    if (command == "layout" && argc == 7) return command_layout(argv[2], argv[3], argv[4], argv[5], std::atol(argv[6]));
    std::fprintf(stderr,
                 "usage: exe_check resources <exe> <manifest> <version>\n"
                 "       exe_check layout <exe> <pool> <directory> <licence> <overhead limit>\n");
    return 2;
}
