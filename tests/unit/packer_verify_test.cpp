// The packer's check of its own output holds it to the reader's rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "packer_inputs.h"
#include "payload/packer/writer/packer.h"

namespace {

// The reader takes a second entry whose name begins with the request as
// damage, so verify() must too, whichever of the two stands first.
TEST(Packer, VerifyWantsEachNameToSelectOneEntry) {
    std::vector<input_file> inputs = {{"bin/a", random_bytes(50, 1)}, {"bin/bc", random_bytes(60, 2)}};
    packer::archive a = pack_ok(inputs, layout::deduplicated);
    a.directory[inputs[0].name.size() + 1 + 8 + 16 + 4] = 'a';  // "bin/bc" becomes "bin/ac"
    inputs[1].name = "bin/ac";
    std::string error;
    EXPECT_FALSE(packer::verify(a.pool, a.directory, inputs, error));
    EXPECT_NE(error.find("a request for \"bin/a\" selects more than one entry"), std::string::npos) << error;
}

// Plain, and compressed: its pool decoded as the installer decodes it.
TEST(Packer, VerifyCatchesDamagedArchives) {
    std::vector<input_file> inputs = shaped_inputs();
    for (bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "compressed" : "plain");
        packer::archive good = pack_ok(inputs, layout::deduplicated, compressed);
        std::string error;
        ASSERT_TRUE(holds_rules(good, inputs));
        EXPECT_TRUE(packer::verify(good.pool, good.directory, inputs, error)) << error;
        size_t first_count = inputs[0].name.size() + 1 + 8 + 4;  // the first entry is one reference
        struct {
            const char *what;
            void (*damage)(packer::archive &, size_t);
        } cases[] = {
            {"a pool byte changed", [](packer::archive &a, size_t) { a.pool[a.pool.size() / 2] ^= 1; }},
            {"the end byte missing", [](packer::archive &a, size_t) { a.directory.pop_back(); }},
            {"a byte after the end byte", [](packer::archive &a, size_t) { a.directory.push_back(0); }},
            {"a count one too large", [](packer::archive &a, size_t at) { ++a.directory[at]; }},
            {"a count one too small", [](packer::archive &a, size_t at) { --a.directory[at]; }},
            {"a name changed", [](packer::archive &a, size_t) { a.directory[0] ^= 0x20; }},
            {"the pool cut short", [](packer::archive &a, size_t) { a.pool.pop_back(); }},
        };
        for (const auto &c : cases) {
            SCOPED_TRACE(c.what);
            packer::archive bad = good;
            c.damage(bad, first_count);
            std::string error;
            EXPECT_FALSE(packer::verify(bad.pool, bad.directory, inputs, error));
            EXPECT_FALSE(error.empty());
        }
    }
}

}  // namespace
