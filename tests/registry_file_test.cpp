// Registry export files as installers ship them, and the debugger-print
// formatting of the simulator.
#include <gtest/gtest.h>

#include <cstdarg>

#include "sim/dbgformat.h"
#include "sim/registry.h"

namespace {

const char* kKey = "\\Registry\\Machine\\Software\\Varnel\\Zorvik\\DIO";

uint32_t dword(const sim::Registry& r, const std::string& name) {
    const sim::RegValue* v = r.find(kKey, name);
    EXPECT_NE(v, nullptr) << name;
    if (v == nullptr) return 0xFFFFFFFF;
    EXPECT_EQ(v->type, sim::kRegDword);
    return v->data[0] | v->data[1] << 8 | v->data[2] << 16 | static_cast<uint32_t>(v->data[3]) << 24;
}

TEST(RegistryFile, ReadsEveryValueKindInstallersWrite) {
    sim::Registry r;
    r.loadText(
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "; comment line\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\DIO]\r\n"
        "\"DeviceType\"=dword:0000001e\r\n"
        "\"Name\"=\"a \\\"quoted\\\" text\"\r\n"
        "\"Blob\"=hex:01,02,\\\r\n"
        "  03,ff\r\n"
        "\"Wide\"=hex(b):01,00,00,00,00,00,00,80\r\n"
        "\"Expand\"=hex(2):41,00,00,00\r\n",
        "board.reg");
    EXPECT_EQ(dword(r, "devicetype"), 0x1eu);
    const sim::RegValue* name = r.find(kKey, "NAME");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->type, sim::kRegSz);
    EXPECT_EQ(name->data.size(), (15u + 1u) * 2u) << "UTF-16 with its terminator";
    EXPECT_EQ(name->data[2 * 2], '"');
    const sim::RegValue* blob = r.find(kKey, "Blob");
    ASSERT_NE(blob, nullptr);
    EXPECT_EQ(blob->type, sim::kRegBinary);
    EXPECT_EQ(blob->data, (std::vector<uint8_t>{1, 2, 3, 0xff}));
    EXPECT_EQ(r.find(kKey, "Wide")->type, sim::kRegQword);
    EXPECT_EQ(r.find(kKey, "Wide")->data.size(), 8u);
    EXPECT_EQ(r.find(kKey, "Expand")->type, sim::kRegExpandSz);
}

TEST(RegistryFile, OldFormatUtf16AndDeletions) {
    sim::Registry r;
    r.loadText(
        "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\DIO]\n\"A\"=dword:1\n\"B\"=dword:2\n",
        "a.reg");
    r.loadText("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\DIO]\n\"A\"=-\n", "b.reg");
    EXPECT_EQ(r.find(kKey, "A"), nullptr);
    EXPECT_EQ(dword(r, "B"), 2u);
    r.loadText("REGEDIT4\n[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik]\n", "c.reg");
    EXPECT_FALSE(r.keyExists(kKey)) << "deleting a key deletes its subkeys";

    // The format regedit itself exports: UTF-16LE with a byte-order mark.
    const std::string text =
        "Windows Registry Editor Version "
        "5.00\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\DIO]\r\n\"C\"=dword:00000007\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : text) {
        utf16 += c;
        utf16 += '\0';
    }
    r.loadText(utf16, "d.reg");
    EXPECT_EQ(dword(r, "C"), 7u);
}

TEST(RegistryFile, ErrorsNameTheFileAndLine) {
    struct Bad {
        const char* text;
        const char* where;
    };
    const Bad cases[] = {
        {"not a registry file\n", "x.reg:1:"},
        {"REGEDIT4\n\"A\"=dword:1\n", "x.reg:2:"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"A\"=dword:123456789\n", "x.reg:3:"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\n\"A\"=hex:1g\n", "x.reg:4:"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"A\"=unknown:1\n", "x.reg:3:"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X\n", "x.reg:2:"},
        {"REGEDIT4\n[HKEY_CURRENT_USER\\X]\n", "x.reg:2:"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\X]\n\"A=dword:1\n", "x.reg:3:"},
    };
    for (const Bad& b : cases) {
        sim::Registry r;
        try {
            r.loadText(b.text, "x.reg");
            ADD_FAILURE() << "accepted: " << b.text;
        } catch (const sim::BoardError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(b.where, 0), 0u) << e.what();
        }
    }
}

std::string format(const char* f, ...) {
    va_list args;
    va_start(args, f);
    std::string s = sim::formatTarget(f, args);
    va_end(args);
    return s;
}

TEST(DebugPrint, FormatsWithTheTargetsTypeSizes) {
    EXPECT_EQ(format("WDT_F81865 SetTimeout %d\n", 60), "WDT_F81865 SetTimeout 60\n");
    EXPECT_EQ(format("%02x %04x %x", 0xA, 0x2e, 0xC0000001u), "0a 002e c0000001");
    // A long is 32 bits on the target: the next argument follows directly.
    EXPECT_EQ(format("%ld %d", static_cast<int32_t>(-5), 7), "-5 7");
    EXPECT_EQ(format("100%% %s %c", "done", 'x'), "100% done x");
}

}  // namespace
