// zrvctl as users run it: arguments, scripts, board files and their errors.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int rc;
    std::string out;
    std::string err;
};

class Zrvctl : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("zrvctl-test-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string write(const std::string& name, const std::string& text) {
        std::ofstream(dir / name) << text;
        return (dir / name).string();
    }
    static std::string slurp(const fs::path& p) {
        std::ifstream in(p);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    Outcome run(const std::string& args) {
        const std::string cmd = std::string(ZRV_ZRVCTL) + " " + args + " >" + (dir / "out").string() + " 2>" +
                                (dir / "err").string();
        int status = std::system(cmd.c_str());
        return Outcome{WEXITSTATUS(status), slurp(dir / "out"), slurp(dir / "err")};
    }
    std::string board() {
        write(
            "b.reg",
            "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnel\\Zorvik\\HWMON]\n");
        return write(
            "b.json",
            R"({"name": "t", "registry": "b.reg", "hardware": [{"type": "latch", "ports": {"0x310": 165}}]})");
    }
    fs::path dir;
};

TEST_F(Zrvctl, CommandsRunInOrderAndTracesAreWritten) {
    const std::string b = board();
    Outcome r = run("--sim " + b + " --trace " + (dir / "t").string() + " --dbg " + (dir / "d").string() +
                    " ioctl 0x88202010 in=3412 out=2 ';' ioctl 0x88202014 in=beef out=1");
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "status=0x00000000 bytes=2 data=3412\nstatus=0x00000000 bytes=1 data=be\n");
    EXPECT_TRUE(fs::exists(dir / "t"));
    EXPECT_TRUE(fs::exists(dir / "d"));
}

TEST_F(Zrvctl, ScriptsFromFilesAndStandardInput) {
    const std::string b = board();
    const std::string s = write("s.zrv", "# a comment\n\nioctl 0x88202010 in=0102 out=2   # trailing\n");
    Outcome r = run("--sim " + b + " --script " + s);
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "status=0x00000000 bytes=2 data=0102\n");
    r = run("--sim " + b + " --script - < " + s);
    EXPECT_EQ(r.out, "status=0x00000000 bytes=2 data=0102\n");
}

TEST_F(Zrvctl, ABadLineStopsTheScriptBeforeAnyRequest) {
    const std::string b = board();
    const std::string t = (dir / "t").string();
    const std::string s = write("s.zrv", "ioctl 0x88202010 in=0102 out=2\n\nfrobnicate\n");
    Outcome r = run("--sim " + b + " --trace " + t + " --script " + s);
    EXPECT_EQ(r.rc, 2);
    EXPECT_EQ(r.out, "") << "nothing half-run";
    EXPECT_NE(r.err.find("s.zrv:3: unknown command 'frobnicate'"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(t));

    write("s2.zrv", "ioctl 0x88202010 in=0g out=2\n");
    r = run("--sim " + b + " --script " + (dir / "s2.zrv").string());
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("s2.zrv:1: ioctl: bad hex '0g'"), std::string::npos) << r.err;
}

TEST_F(Zrvctl, BoardFileErrorsNameTheFileAndLine) {
    Outcome r = run("--sim " + (dir / "missing.json").string() + " status");
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("missing.json: cannot open board file"), std::string::npos) << r.err;

    const std::string bad = write("bad.json", "{\n  \"name\": \"x\",\n  \"hardware\": [ {\"type\": }\n]}\n");
    r = run("--sim " + bad + " status");
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("bad.json:3: malformed JSON"), std::string::npos) << r.err;

    const std::string noreg = write("noreg.json", R"({"registry": "nowhere.reg"})");
    r = run("--sim " + noreg + " status");
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("nowhere.reg: cannot open registry file"), std::string::npos) << r.err;

    write("broken.reg",
          "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\n\"A\"=dword:zz\n");
    const std::string broken = write("broken.json", R"({"registry": "broken.reg"})");
    r = run("--sim " + broken + " status");
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("broken.reg:3: bad dword value"), std::string::npos) << r.err;

    const std::string unknown = write("unknown.json", R"({"hardware": [{"type": "toaster"}]})");
    r = run("--sim " + unknown + " status");
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("hardware[0]: unknown hardware type 'toaster'"), std::string::npos) << r.err;

    const std::string range =
        write("range.json", R"({"hardware": [{"type": "latch", "ports": {"0x10000": 1}}]})");
    r = run("--sim " + range + " status");
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find("out of range"), std::string::npos) << r.err;
}

TEST_F(Zrvctl, IoctlArgumentsAreChecked) {
    const std::string b = board();
    for (const char* bad :
         {"ioctl", "ioctl zz", "ioctl 0x88202013", "ioctl 0x88202010 in=123", "ioctl 0x88202010 access=w",
          "ioctl 0x88202010 out=-1", "ioctl 0x88202010 colour=blue"}) {
        Outcome r = run("--sim " + b + " " + bad);
        EXPECT_EQ(r.rc, 2) << bad;
        EXPECT_EQ(r.out, "") << bad;
        EXPECT_NE(r.err.find("(zrvctl ioctl --help)"), std::string::npos) << bad << ": " << r.err;
    }
}

}  // namespace
