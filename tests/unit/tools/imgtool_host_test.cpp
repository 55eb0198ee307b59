// The image tool as firmware engineers use it: create/pack/info/extract round trips, and
// malformed inputs that must give a one-line error and a non-zero exit, never a crash.
#include "image/builder.h"
#include "image/bytes.h"
#include "image/format.h"
#include "tests/support/bytes.h"
#include "tests/support/image_parts.h"
#include "tests/support/sim_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct ToolRun {
    int status;
    std::string out; // standard output and standard error together
};

std::string scratch(const std::string &name)
{
    return std::string(BM_BINARY_DIR) + "/tests/imgtool-scratch-" + name;
}

// Runs a shell command line with standard error joined to standard output.
ToolRun run_command(const std::string &command)
{
    std::string cmd = command + " 2>&1";
    ToolRun run{-1, {}};
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return run;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        run.out.append(buf, n);
    int status = pclose(p);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

ToolRun imgtool(const std::string &args)
{
    return run_command(std::string(BM_BINARY_DIR) + "/tools/imgtool " + args);
}

void write_bytes(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(bytes.data()), bytes.size());
}

std::vector<uint8_t> read_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

int count_lines(const std::string &s)
{
    return int(std::count(s.begin(), s.end(), '\n'));
}

} // namespace

TEST(Imgtool, CreatePackInfoExtractRoundTrip)
{
    const Bytes payload = test_pattern(3000, 7);
    write_bytes(scratch("payload"), payload);
    ASSERT_EQ(0, imgtool("create --type kernel --version 1.2.3.4 --format 2 --header-size 40 -o " +
                         scratch("k") + " " + scratch("payload")).status);
    ASSERT_EQ(0, imgtool("create --type application --version 0.0.0.0 --format 1 -o " + scratch("a") + " " +
                         scratch("payload")).status);
    ASSERT_EQ(0, imgtool("pack -o " + scratch("pkg") + " " + scratch("k") + " " + scratch("a")).status);

    ToolRun info = imgtool("info " + scratch("pkg"));
    EXPECT_EQ(0, info.status) << info.out;
    EXPECT_NE(std::string::npos, info.out.find("2 components"));
    EXPECT_NE(std::string::npos, info.out.find("type KERNEL, format 2, H 40, P 3000, T 3040, version 1.2.3.4"));
    EXPECT_NE(std::string::npos, info.out.find("offset 0xBE0: type APPLICATION, format 1"));
    EXPECT_EQ(std::string::npos, info.out.find("BAD"));

    for (int index = 0; index < 2; index++) {
        ASSERT_EQ(0, imgtool("extract " + scratch("pkg") + " " + std::to_string(index) + " -o " + scratch("x")).status);
        EXPECT_EQ(payload, read_bytes(scratch("x"))) << "component " << index;
    }
    EXPECT_NE(0, imgtool("extract " + scratch("pkg") + " 2 -o " + scratch("x")).status);
}

TEST(Imgtool, InfoReportsABadCrcAndErasedFlash)
{
    auto c = image_build_component(plan(DIAGS, 0x01000000), std::vector<uint8_t>(100, 9));
    auto dump = c;
    dump.resize(4096, 0xFF); // a partition holding one component, the rest erased
    write_bytes(scratch("dump"), dump);
    ToolRun good = imgtool("info " + scratch("dump"));
    EXPECT_EQ(0, good.status) << good.out;
    EXPECT_NE(std::string::npos, good.out.find("erased flash from offset 0x74"));

    c[50] ^= 1;
    write_bytes(scratch("badcrc"), c);
    ToolRun bad = imgtool("info " + scratch("badcrc"));
    EXPECT_EQ(2, bad.status);
    EXPECT_NE(std::string::npos, bad.out.find("BAD"));
}

TEST(Imgtool, MalformedFilesGiveOneLineErrors)
{
    const auto good =
        image_build_component(plan(KERNEL, 1, 3, 0, {{3, {1, 2, 3, 4}}}), Bytes(64, 1));

    struct Case {
        const char *name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases;
    cases.push_back({"truncated", std::vector<uint8_t>(good.begin(), good.end() - 1)});
    auto huge = good;
    store_be32(&huge[4], 0xFFFFFFF8u);
    cases.push_back({"huge T", huge});
    auto zero_record = good;
    store_be16(&zero_record[26], 0);
    cases.push_back({"zero-length record", zero_record});

    for (const auto &c : cases) {
        write_bytes(scratch("malformed"), c.bytes);
        ToolRun info = imgtool("info " + scratch("malformed"));
        EXPECT_EQ(1, info.status) << c.name << ": " << info.out;
        EXPECT_NE(std::string::npos, info.out.find("imgtool: corrupt component at offset 0x0")) << c.name;
        ToolRun pack = imgtool("pack -o " + scratch("out") + " " + scratch("malformed"));
        EXPECT_EQ(1, pack.status) << c.name;
        EXPECT_EQ(1, count_lines(pack.out)) << c.name << ": " << pack.out;
    }
}

// create, pack and info agree that a component has the 24 bytes a reader needs to see one,
// and create refuses a format-1 payload that readers would take for a format-3 header.
TEST(Imgtool, ComponentsReadersCannotSeeAreRefused)
{
    const std::string out = scratch("small");
    std::vector<uint8_t> tagged = {'H', 'D', 'R', '3', 0, 0, 0, 24};
    tagged.resize(64, 0x33);
    struct Case {
        const char *format;
        std::vector<uint8_t> payload;
        const char *refusal;
    } cases[] = {
        {"1", std::vector<uint8_t>(7, 1), "below the 24"}, {"1", std::vector<uint8_t>(8, 1), nullptr},
        {"2", std::vector<uint8_t>(3, 1), "below the 24"}, {"3", {}, nullptr},
        {"1", tagged, "payload starts with \"HDR3\""},    {"2", tagged, nullptr},
    };
    for (const Case &c : cases) {
        std::remove(out.c_str());
        write_bytes(scratch("p"), c.payload);
        ToolRun run = imgtool(std::string("create --type kernel --version 1.0.0.0 --format ") + c.format + " -o " +
                              out + " " + scratch("p"));
        const std::string name = std::string("format ") + c.format + ", " + std::to_string(c.payload.size()) + " bytes";
        if (c.refusal) {
            EXPECT_EQ(1, run.status) << name;
            EXPECT_EQ(1, count_lines(run.out)) << name << ": " << run.out;
            EXPECT_NE(std::string::npos, run.out.find(c.refusal)) << name << ": " << run.out;
            continue;
        }
        ASSERT_EQ(0, run.status) << name << ": " << run.out;
        EXPECT_EQ(0, imgtool("info " + out).status) << name;
        EXPECT_EQ(0, imgtool("pack -o " + scratch("small-pkg") + " " + out).status) << name;
    }

    // A 19-byte component made by hand, after a good one, is trailing bytes to info.
    auto file = image_build_component(plan(KERNEL), Bytes(40, 5));
    const auto tiny = image_build_component(plan(KERNEL), {1, 2, 3});
    file.insert(file.end(), tiny.begin(), tiny.end());
    write_bytes(out, file);
    ToolRun info = imgtool("info " + out);
    EXPECT_EQ(1, info.status) << info.out;
    EXPECT_NE(std::string::npos, info.out.find("imgtool: 19 trailing bytes at offset 0x38")) << info.out;
}

// ---- the signing side: every way of signing gives one component ----

namespace {

const std::string DEMO = std::string(BM_SOURCE_DIR) + "/keys/demo/demo-signing-key.NOT-FOR-PRODUCTION";

// Runs a shell script with IMGTOOL, KEY (the demo key, no suffix), PAY (a payload), OUT and
// S (the scratch prefix) set.
ToolRun shell(const std::string &script)
{
    const std::string env = "IMGTOOL=" + std::string(BM_BINARY_DIR) + "/tools/imgtool KEY=" + DEMO +
                            " PAY=" + scratch("sign-payload") + " OUT=" + scratch("sign-out") + " S=" + scratch("");
    return run_command(env + " sh -c '" + script + "' </dev/null");
}

// A key made once per build tree with openssl: FILE.pem, and FILE.pub.pem its public half.
std::string generated_key(const std::string &name, const std::string &genpkey_options)
{
    const std::string path = scratch(name);
    if (read_bytes(path + ".pub.pem").empty()) {
        EXPECT_EQ(0, std::system(("openssl genpkey -algorithm RSA " + genpkey_options + " -out " + path +
                                  ".pem 2>/dev/null && openssl pkey -in " + path + ".pem -pubout -out " + path +
                                  ".pub.pem").c_str()));
    }
    return path;
}

// Each script leaves $OUT; it must equal create --sign with the demo PEM file.
void expect_same_as_pem_signing(const std::vector<std::pair<const char *, std::string>> &routes)
{
    write_bytes(scratch("sign-payload"), test_pattern(3001, 5));
    const std::string create = "$IMGTOOL create --type rfs --version 2.1.0.7 --format 3 -o $OUT $PAY";
    ASSERT_EQ(0, shell(create + " --sign $KEY.pem").status);
    const auto reference = read_bytes(scratch("sign-out"));
    for (const auto &[name, script] : routes) {
        std::remove(scratch("sign-out").c_str());
        ToolRun run = shell(script);
        EXPECT_EQ(0, run.status) << name << ": " << run.out;
        EXPECT_TRUE(reference == read_bytes(scratch("sign-out"))) << name;
    }
}

} // namespace

TEST(ImgtoolSigning, EveryRouteGivesTheBytesOfPemSigning)
{
    const std::string create = "$IMGTOOL create --type rfs --version 2.1.0.7 --format 3 -o $OUT $PAY";
    const std::string stranger = generated_key("stranger2048", "-pkeyopt rsa_keygen_bits:2048");
    ASSERT_EQ(0, shell("openssl pkcs8 -topk8 -in $KEY.pem -out ${S}enc.pem -passout pass:s3cret && "
                       "echo s3cret >${S}pass.txt").status);
    // digest -> openssl pkeyutl (the external signer) -> attach, on the component in $OUT
    const std::string external =
        " && $IMGTOOL digest $OUT --key $KEY.pub.pem >${S}digests && "
                 "for label in payload header; do grep \"^$label \" ${S}digests | cut -d\" \" -f2 | xxd -r -p >${S}$label.bin && "
                 "openssl pkeyutl -sign -inkey $KEY.pem -pkeyopt digest:sha256 -in ${S}$label.bin -out ${S}$label.sig; done && "
                 "$IMGTOOL attach $OUT --key $KEY.pub.pem --signature payload=${S}payload.sig "
                 "--signature header=${S}header.sig -o $OUT";
    expect_same_as_pem_signing({
        {"passin pass:", create + " --sign ${S}enc.pem --passin pass:s3cret"},
        {"passin env:", "PW=s3cret " + create + " --sign ${S}enc.pem --passin env:PW"},
        {"passin file:", create + " --sign ${S}enc.pem --passin file:${S}pass.txt"},
        {"passin fd:", create + " --sign ${S}enc.pem --passin fd:3 3<${S}pass.txt"},
        {"external signer", create + external},
        {"attach over another key's signatures", create + " --sign " + stranger + ".pem" + external},
    });
    ToolRun info = imgtool("info " + scratch("sign-out"));
    EXPECT_NE(std::string::npos, info.out.find("record type 5 (authenticated header), length ")) << info.out;
    EXPECT_NE(std::string::npos, info.out.find("authenticated header: type RFS, version 2.1.0.7, P 3001, matches the "
                                               "component, signature verifies")) << info.out;
}

// verify trusts the build's keys, or the keys given with --trusted instead.
TEST(ImgtoolSigning, VerifyTrustsTheBuildsKeysOrTheGivenOnes)
{
    const std::string stranger = generated_key("stranger2048", "-pkeyopt rsa_keygen_bits:2048") + ".pem";
    write_bytes(scratch("payload"), std::vector<uint8_t>(500, 0x5A));
    ASSERT_EQ(0, imgtool("create --type application --version 1.0.0.1 --format 3 --sign " + stranger + " -o " +
                         scratch("a") + " " + scratch("payload")).status);
    ToolRun verify = imgtool("verify " + scratch("a"));
    EXPECT_NE(0, verify.status);
    EXPECT_NE(std::string::npos, verify.out.find("(APPLICATION):\tImage rejected: key not trusted\n")) << verify.out;
    EXPECT_EQ(0, imgtool("verify " + scratch("a") + " --trusted " + stranger).status);
}

TEST(ImgtoolSigning, TokenKeysGiveTheBytesOfPemSigning)
{
    const char *module = "/usr/lib/softhsm/libsofthsm2.so";
    if (std::system("command -v softhsm2-util >/dev/null") != 0 || read_bytes(module).empty())
        GTEST_SKIP() << "softhsm2 is not installed";
    // A throw-away token in the build tree holding the demo key.
    const std::string conf = scratch("softhsm2.conf"), tokens = scratch("tokens");
    std::ofstream(conf) << "directories.tokendir = " << tokens << "\nobjectstore.backend = file\nlog.level = ERROR\n";
    const std::string token_env = "SOFTHSM2_CONF=" + conf + " ";
    ASSERT_EQ(0, std::system(("rm -rf " + tokens + " && mkdir " + tokens + " && " + token_env +
                              "softhsm2-util --init-token --free --label bm --pin 1234 --so-pin 5678 >/dev/null && "
                              "openssl pkcs8 -topk8 -nocrypt -in " + DEMO + ".pem -out " + scratch("k8.pem") + " && " +
                              token_env + "softhsm2-util --import " + scratch("k8.pem") +
                              " --token bm --label signer --id 01 --pin 1234 >/dev/null").c_str()));
    // The engine library keeps its method tables past its unloading, which a sanitizer build
    // would report as the tool's leaks.
    const std::string create = "export ASAN_OPTIONS=detect_leaks=0 SOFTHSM2_CONF=" + conf +
                               "; $IMGTOOL create --type rfs --version 2.1.0.7 --format 3 -o $OUT $PAY --sign ";
    expect_same_as_pem_signing({
        {"pin in the URI, module from the environment",
         "export PKCS11_MODULE_PATH=" + std::string(module) + "; " + create + "\"pkcs11:token=bm;object=signer;type=private?pin-value=1234\""},
        {"pin from --passin, --pkcs11-module",
         create + "\"pkcs11:token=bm;object=signer;type=private\" --passin pass:1234 --pkcs11-module " + module},
    });
    ToolRun no_pin = shell(create + "\"pkcs11:token=bm;object=signer;type=private\" --pkcs11-module " + module);
    EXPECT_EQ(1, no_pin.status);
    EXPECT_EQ(1, count_lines(no_pin.out)) << no_pin.out;
    EXPECT_NE(std::string::npos, no_pin.out.find("no PIN")) << no_pin.out;
}

// Each refusal is one line, exit status 1, and names what is wrong.
TEST(ImgtoolSigning, KeysAndSignaturesTheBoardCannotUseAreRefused)
{
    const std::string small = generated_key("k1024", "-pkeyopt rsa_keygen_bits:1024");
    const std::string stranger = generated_key("stranger2048", "-pkeyopt rsa_keygen_bits:2048");
    write_bytes(scratch("sign-payload"), std::vector<uint8_t>(100, 7));
    ASSERT_EQ(0, shell("openssl pkcs8 -topk8 -in $KEY.pem -out ${S}enc.pem -passout pass:s3cret && "
                       "$IMGTOOL create --type kernel --version 1.0.0.1 --format 3 -o ${S}unsigned $PAY && "
                       "$IMGTOOL create --type kernel --version 1.0.0.1 --format 2 -o ${S}format2 $PAY && "
                       "openssl dgst -sha256 -sign $KEY.pem -out ${S}payload.sig $PAY").status);
    const std::string create = "$IMGTOOL create --type kernel --version 1.0.0.1 --format 3 -o $OUT $PAY --sign ";
    const std::string attach = "$IMGTOOL attach ${S}unsigned -o $OUT --signature payload=${S}payload.sig ";
    const std::pair<std::string, const char *> refusals[] = {
        {create + small + ".pem", "k1024.pem: the RSA modulus must have 2048 to 4096 bits"},
        {"$IMGTOOL keyhash " + small + ".pub.pem", "k1024.pub.pem: the RSA modulus must have 2048 to 4096 bits"},
        {create + "${S}enc.pem", "enc.pem: the key is encrypted: give its pass phrase with --passin"},
        {create + "${S}enc.pem --passin pass:wrong", "cannot decrypt the key with the pass phrase of --passin"},
        {attach + "--signature header=${S}payload.sig --key $KEY.pub.pem", "the header signature does not verify"},
        {attach + "--signature header=${S}payload.sig --key " + stranger + ".pub.pem", "the payload signature does not verify"},
        {"$IMGTOOL digest ${S}format2 --key $KEY.pub.pem", "is format 2; signatures need format 3"},
    };
    for (const auto &[script, message] : refusals) {
        ToolRun run = shell(script);
        EXPECT_EQ(1, run.status) << script;
        EXPECT_EQ(1, count_lines(run.out)) << script << ": " << run.out;
        EXPECT_NE(std::string::npos, run.out.find(message)) << script << ": " << run.out;
    }
}

// info --json and verify --json against the text lines: the same fields, the same verdicts.
// verify gives a default board's verdict (boot loader and diagnostics installed unsigned)
// and, with --production, a production board's.
TEST(Imgtool, JsonAndTextAgreeOnBothBoards)
{
    write_bytes(scratch("payload"), std::vector<uint8_t>(500, 0x5A));
    ASSERT_EQ(0, run_command("openssl dgst -sha256 -sign " + DEMO + ".pem -out " + scratch("p3.sig") + " " +
                             scratch("payload")).status);
    const std::string create = "create --version 1.0.0.1 --format 3";
    struct Row {
        std::string args;
        const char *default_board, *production_board;
    } rows[] = {
        {"--type kernel --sign " + DEMO + ".pem", "Image signature verified", "Image signature verified"},
        {"--type uboot", "Image not checked: the board installs UBOOT components unsigned",
         "Image rejected as it has no signature"},
        {"--type diags", "Image not checked: the board installs DIAGS components unsigned",
         "Image rejected as it has no signature"},
        {"--type application --version 0.0.0.0", "Image is a developer image",
         "Image rejected: developer images are not accepted"},
        {"--type rfs --record 3=" + scratch("p3.sig") + " --record 4=" + DEMO + ".pub.pem", "Image signature verified",
         "Image rejected: no authenticated header"},
    };
    std::string parts;
    for (size_t i = 0; i < std::size(rows); i++) {
        const std::string out = scratch("part" + std::to_string(i));
        ASSERT_EQ(0, imgtool(create + " " + rows[i].args + " -o " + out + " " + scratch("payload")).status);
        parts += " " + out;
    }
    ASSERT_EQ(0, imgtool("pack -o " + scratch("json-pkg") + parts).status);
    ToolRun text = imgtool("info " + scratch("json-pkg"));
    const auto info = nlohmann::json::parse(imgtool("info --json " + scratch("json-pkg")).out);
    ASSERT_EQ(std::size(rows), info["components"].size());
    for (size_t i = 0; i < std::size(rows); i++) {
        const auto &c = info["components"][i];
        char line[200];
        std::snprintf(line, sizeof line, "component %zu at offset 0x%llX: type %s, format %d, H %d, P %d, T %d, version %s",
                      i, c["offset"].get<unsigned long long>(), c["type"].get<std::string>().c_str(), c["format"].get<int>(),
                      c["H"].get<int>(), c["P"].get<int>(), c["T"].get<int>(), c["version"].get<std::string>().c_str());
        EXPECT_NE(std::string::npos, text.out.find(line)) << line << "\n" << text.out;
        EXPECT_TRUE(c["crc"]["good"].get<bool>() && c["crc"]["stored"] == c["crc"]["computed"]) << i;
    }
    for (const bool production : {false, true}) {
        const std::string verify = "verify " + scratch("json-pkg") + (production ? " --production" : "");
        ToolRun lines = imgtool(verify);
        const auto verdicts = nlohmann::json::parse(imgtool(verify + " --json").out);
        EXPECT_EQ(production ? 1 : 0, lines.status) << lines.out;
        EXPECT_EQ(!production, verdicts["accepted"].get<bool>());
        for (size_t i = 0; i < std::size(rows); i++) {
            const std::string expected = production ? rows[i].production_board : rows[i].default_board;
            EXPECT_EQ(expected, verdicts["components"][i]["verdict"]["line"].get<std::string>()) << i;
            EXPECT_NE(std::string::npos, lines.out.find(":\t" + expected + "\n")) << lines.out;
        }
    }
    const auto &kernel = info["components"][0];
    EXPECT_EQ(imgtool("keyhash " + DEMO + ".pem").out.substr(0, 64), kernel["signature"]["key_fingerprint"]);
    EXPECT_TRUE(kernel["signature"]["verifies"].get<bool>() && kernel["authenticated_header"]["matches"].get<bool>());
    EXPECT_EQ(nullptr, info["components"][1]["signature"]);
}

// cmake --install with DESTDIR puts the boot manager in sbin and the host tools in bin;
// the installed programs tell the build's version.
TEST(Imgtool, InstallsIntoADestdirAndTellsItsVersion)
{
    const std::string root = scratch("destdir");
    ToolRun install = run_command("rm -rf " + root + " && DESTDIR=" + root + " cmake --install " + BM_BINARY_DIR +
                                  " --prefix /opt/bm");
    ASSERT_EQ(0, install.status) << install.out;
    const std::string version = imgtool("--version").out;
    EXPECT_EQ(0u, version.rfind("imgtool 1.", 0)) << version;
    EXPECT_EQ(version, run_command(root + "/opt/bm/bin/imgtool --version").out);
    EXPECT_EQ("bootmgr" + version.substr(7), run_command(root + "/opt/bm/sbin/bootmgr --version").out);
    EXPECT_EQ(0, run_command("test -x " + root + "/opt/bm/bin/bootmgr-sim").status);
    // bootsim (not in sanitizer builds) finds bootmgr-sim and its stand-in programs beside it.
    const bool simulator_built = run_command(std::string("test -x ") + BM_BINARY_DIR + "/sim/bootsim").status == 0;
    EXPECT_EQ(simulator_built ? 0 : 1,
              run_command("test -x " + root + "/opt/bm/bin/bootsim -a -x " + root + "/opt/bm/bin/rootfs/bin/backtrace").status);
}
