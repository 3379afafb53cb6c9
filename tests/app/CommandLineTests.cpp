#include "app/CommandLine.h"
#include "fakes/CodexSandbox.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/wait.h>

using namespace zorvane;
using fakes::CodexSandbox;
using fakes::readFile;

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

// Runs the real program with a private HOME whose ~/.local/bin/codex is a fake of ours.
class AskFromTheCommandLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        sandbox.installFakeCodex(CodexSandbox::signedInStatus(), "printf '  Hola desde Codex \\n\\n' > \"$answer\"", true,
                                 sandbox.homeCodex());
    }

    Outcome run(const std::vector<std::string>& args)
    {
        std::string line = "cd / && env -i PATH=/usr/bin:/bin HOME='" + sandbox.home().string() + "' TMPDIR='" +
                           sandbox.temporaryDirectory().string() + "' XDG_CONFIG_HOME='" + sandbox.file("config").string() +
                           "' " + ZORVANE_PROGRAM;
        for (const auto& a : args) line += " '" + a + "'";
        line += " >'" + sandbox.file("out").string() + "' 2>'" + sandbox.file("err").string() + "'";
        const int raw = std::system(line.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(sandbox.file("out")), readFile(sandbox.file("err"))};
    }

    CodexSandbox sandbox;
};

} // namespace

TEST_F(AskFromTheCommandLine, PrintsTheAnswerInTheModeOfTheSettingsOrTheCommandWithAnImageThatLeavesNoTrace)
{
    fakes::writeFile(sandbox.file("config/zorvane/preferences.plist"),
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        "<key>aiResponseMode</key><string>thinking</string></dict></plist>\n");
    Outcome o = run({"--ask", "¿Qué es esto?"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "Hola desde Codex\n");
    EXPECT_EQ(CodexSandbox::lines(sandbox.file("args")).at(2), "model_reasoning_effort=\"high\"");
    EXPECT_TRUE(readFile(sandbox.file("prompt")).ends_with("Pregunta del usuario:\n¿Qué es esto?"));

    const std::string png = {'\x89', 'P', 'N', 'G', '\r', '\n', '\x1A', '\n', 0, 0, 0, 13};
    std::ofstream(sandbox.file("shot.png"), std::ios::binary) << png;
    o = run({"--ask", "hola", "--image", sandbox.file("shot.png").string(), "--mode", "fast"});
    EXPECT_EQ(o.status, 0) << o.err;
    const auto args = CodexSandbox::lines(sandbox.file("args"));
    EXPECT_EQ(args.at(1), "--model");
    // In a folder of the user's own inside TMPDIR (no runtime folder here).
    EXPECT_TRUE(args.at(args.size() - 2).starts_with("--image=" + sandbox.temporaryDirectory().string() + "/zorvane-"));
    EXPECT_EQ(readFile(sandbox.file("image")), png);
    EXPECT_TRUE(sandbox.temporaryEntries().empty()) << "transport files left behind";
}

TEST_F(AskFromTheCommandLine, FailuresGoToStandardErrorInSpanishWithStatusOne)
{
    std::ofstream(sandbox.file("notes.txt")) << "no es una imagen";
    Outcome o = run({"--ask", "hola", "--image", sandbox.file("notes.txt").string()});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("no es una imagen PNG"), std::string::npos) << o.err;

    sandbox.installFakeCodex("echo 'Not logged in' >&2; exit 1", "exit 0", true, sandbox.homeCodex());
    o = run({"--ask", "hola"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "Para evitar consumo de API, inicia sesión en Codex con ChatGPT. Estado actual: Not logged in\n");
    EXPECT_FALSE(std::filesystem::exists(sandbox.file("args"))) << "the query ran although not signed in";

    // The desktop program without any display says so instead of aborting.
    o = run({});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "Zorvane necesita un escritorio gráfico: no encuentro ninguna pantalla.\n");
}
