#include <gtest/gtest.h>

#include "files/file_replace.h"
#include "files/link_guard.h"
#include "fake.h"

namespace {

const std::u16string FOLDER = u"C:\\Program Files\\FL\\Plugins";
const std::u16string PLUGIN = FOLDER + u"\\Q.dll";
const std::u16string SYSTEM = u"C:\\Windows\\System32";  // where a planted link leads

// A program of the user's empties folder and makes it a link to the system's folder.
void link_system_at(const std::u16string &folder) {
    std::string key = fake::normalise_path(folder);
    for (auto node = fake::files.nodes.lower_bound(key); node != fake::files.nodes.end() && node->first.rfind(key, 0) == 0;)
        node = fake::files.nodes.erase(node);
    fake::files.add_link(folder, SYSTEM);
}

// An administrator moved the plug-in folder to target and left a link there,
// which the system vouches for where its guard is as given.
fake::FileNode &move_folder(const std::u16string &target, fake::User::Trust trust = fake::User::Trust::enforced,
                            DWORD tag = IO_REPARSE_TAG_MOUNT_POINT) {
    fake::files.add_file(target + u"\\Q.dll", "old build");
    fake::files.nodes.erase(fake::normalise_path(PLUGIN));
    fake::user.redirection_trust = trust;
    return fake::files.add_link(FOLDER, target, tag, true);
}

std::map<std::string, std::string> system_files() {
    std::map<std::string, std::string> found;
    for (const std::string &file : fake::files.files_in(SYSTEM))
        found[file] = *fake::files.read(fake::u16(file)) + (fake::files.node(fake::u16(file))->read_only ? " read-only" : "");
    return found;
}

}  // namespace

// Replacing or removing the plug-in's file on a path with links, holds and
// faults: what the call gives, what stands at the path afterwards, and that
// nothing in the system's folder is touched.
TEST(FileOperations, FollowNoLinkAndTakeNoFailedLookForNothing) {
    struct Case {
        const char *name;
        std::function<void()> arrange;
        // By default a replacement refused for a link, the old build standing.
        bool remove = false;
        DWORD error = ERROR_UNTRUSTED_MOUNT_POINT, result = 0;  // the replacement's flags, or the removal
        const char *plugin = "old build";  // bytes at the path, read as a program would; null: nothing
        const char16_t *path = nullptr;    // the path the call is given, if not the plug-in's
    } cases[] = {
        // The update's clean-up would move the planted old build into the system's folder.
        {"a mount point on the plug-in folder the installer made, over an old build",
         [] { fake::files.nodes.erase(fake::normalise_path(SYSTEM + u"\\Q.dll")), link_system_at(FOLDER); }, false,
         ERROR_UNTRUSTED_MOUNT_POINT, 0, nullptr},
        {"a mount point on the plug-in folder that the system does not vouch for, removal",
         [] { link_system_at(FOLDER), fake::user.redirection_trust = fake::User::Trust::enforced; }, true,
         ERROR_UNTRUSTED_MOUNT_POINT, FILE_UNREACHED, "system file"},
        {"an administrator's junction higher up, the system's guard unknown", [] { link_system_at(u"C:\\Program Files\\FL"); }, false,
         ERROR_UNTRUSTED_MOUNT_POINT, 0, nullptr},
        {"a symbolic link at the file itself",
         [] { fake::files.nodes.erase(fake::normalise_path(PLUGIN)), fake::files.add_link(PLUGIN, SYSTEM + u"\\Q.dll", IO_REPARSE_TAG_SYMLINK); },
         true, ERROR_UNTRUSTED_MOUNT_POINT, FILE_UNREACHED, "system file"},
        {"a cloud placeholder folder", [] { fake::files.node(FOLDER)->tag = IO_REPARSE_TAG_CLOUD; }, false, 0, 0, "new build"},
        {"a mount point set on the held folder before the new file is made",
         [] { fake::files.create_fails = [](auto path) { return path == PLUGIN + u".new" && (link_system_at(FOLDER), false); }; },
         false, ERROR_BAD_PATHNAME, 0, "system file"},
        {"a failed look at an old build still loaded: arranged for the restart all the same",
         [] { fake::files.node(PLUGIN)->hold = fake::Hold::loaded, fake::files.look_fails = [](auto path) { return path == PLUGIN + u".old"; }; },
         false, 0, OLD_BUILD_HELD, "new build"},
        {"the folder and the file fail to be looked at",
         [] { fake::files.look_fails = [](auto path) { return path == FOLDER || path == PLUGIN; }; }, true,
         ERROR_ACCESS_DENIED, FILE_UNREACHED, "old build"},
        // Only a junction that the system's guard, read back as on, vouches for
        // is followed, to a plain folder on a drive and where it really leads.
        {"an administrator's junction, a host holding the old build: no removal at restart through it",
         [] { move_folder(u"D:\\Plugins"), fake::files.node(PLUGIN)->hold = fake::Hold::loaded; }, false, 0,
         OLD_BUILD_HELD | OLD_BUILD_LEFT, "new build"},
        {"an administrator's junction, the guard's state not filled in", [] { move_folder(u"D:\\Plugins", fake::User::Trust::unfilled); }},
        {"an administrator's junction, a Wine reading the guard back as on", [] { move_folder(u"D:\\Plugins", fake::User::Trust::echoed_by_wine); }},
        {"an administrator's junction, data of another tag", [] { move_folder(u"D:\\Plugins").reparse_data[0] = char16_t(IO_REPARSE_TAG_SYMLINK); }},
        {"an administrator's junction, its target past the bytes read back", [] { move_folder(u"D:\\Plugins").reparse_data[2] -= 2; }},
        {"a junction to a volume's own path, where it does lead", [] { move_folder(u"Volume{0b1c2d3e-0000-0000-0000-100000000000}\\Plugins"); }},
        {"a second junction on the way to the first's target", [] { fake::files.add_file(u"D:\\Other\\Plugins\\Q.dll", "old build"),
             move_folder(u"D:\\Moved\\Plugins"), fake::files.add_link(u"D:\\Moved", u"D:\\Other"); }},
        // At most one junction on a way, even where the system vouches for both.
        {"two junctions, one below the other's target", [] { move_folder(u"D:\\Plugins"), fake::files.add_link(u"D:\\FL\\Plugins", u"D:\\Plugins"),
             fake::files.add_link(u"C:\\Program Files\\FL", u"D:\\FL"); for (auto &node : fake::files.nodes) node.second.vouched = true; }},
        {"an administrator's symbolic link", [] { move_folder(u"D:\\Plugins", fake::User::Trust::enforced, IO_REPARSE_TAG_SYMLINK); }},
        {"a parent folder's name on the way", [] {}, false, ERROR_INVALID_NAME, 0, "old build",
         u"C:\\Program Files\\FL\\..\\FL\\Plugins\\Q.dll"},
        {"a folder name ending in a dot", [] {}, false, ERROR_INVALID_NAME, 0, "old build", u"C:\\Program Files\\FL.\\Plugins\\Q.dll"},
        // Clearing the mark would clear it under the other name too.
        {"a read-only old build whose other name is a system file",
         [] { fake::files.node(PLUGIN)->read_only = fake::files.node(SYSTEM + u"\\Q.dll")->read_only = true,
              fake::files.node(PLUGIN)->other_name = fake::normalise_path(SYSTEM + u"\\Q.dll"); },
         false, ERROR_ACCESS_DENIED, 0, "old build"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        fake::set_known_folder(FOLDERID_ProgramFiles, u"C:\\Program Files");
        fake::files.add_file(PLUGIN, "old build");
        fake::files.add_file(SYSTEM + u"\\Q.dll", "system file");
        fake::files.add_file(SYSTEM + u"\\Q.dll.old", "planted");
        c.arrange();
        guard_links(GetModuleHandleW(L"kernel32.dll"));
        std::map<std::string, std::string> system_before = system_files();
        std::u16string given = c.path ? c.path : PLUGIN;
        std::vector<WCHAR> path(given.c_str(), given.c_str() + given.size() + 1);
        replacement done = {0, 0};  // a removal's outcome in place of the flags
        if (c.remove) done.left = remove_file(path.data(), &done.error);
        else done = replace_file(path.data(), "new build", 9);
        EXPECT_EQ(std::make_pair(done.error, done.left), std::make_pair(c.error, c.result));
        EXPECT_EQ(fake::files.read(PLUGIN), c.plugin ? std::optional<std::string>(c.plugin) : std::nullopt);
        EXPECT_EQ(system_files(), system_before);
        EXPECT_EQ(fake::files.removed_at_restart.size(), c.result == OLD_BUILD_HELD);
        EXPECT_EQ(fake::files.open_handles(), 0u);
    }
}
