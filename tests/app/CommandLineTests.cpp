#include "app/CommandLine.h"
#include "fakes/TemporaryDirectory.h"

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace zorvane;

namespace {

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the real program with a private HOME whose ~/.local/bin/codex is a script of ours.
class AskFromTheCommandLine : public ::testing::Test {
protected:
    fakes::TemporaryDirectory home;

    void SetUp() override
    {
        std::filesystem::create_directories(home / ".local/bin");
        std::filesystem::create_directories(home / "tmp");
        writeCodex("echo 'Logged in using ChatGPT' >&2; exit 0",
                   "cat > \"$HOME/prompt.txt\"; printf '  Hola desde Codex \\n\\n' > \"$answer\"");
    }

    // `status` runs for `login status`; `exec` runs for `exec` with $answer set to the answer file.
    void writeCodex(const std::string& status, const std::string& exec)
    {
        const auto path = home / ".local/bin/codex";
        std::ofstream script(path);
        script << "#!/bin/sh\n"
               << "if [ \"$1\" = login ]; then " << status << "; fi\n"
               << "printf '%s\\n' \"$@\" > \"$HOME/args.txt\"\n"
               << "answer=''; prev=''\n"
               << "for a in \"$@\"; do [ \"$prev\" = --output-last-message ] && answer=\"$a\"; prev=\"$a\"; done\n"
               << exec << "\n";
        script.close();
        ::chmod(path.c_str(), 0755);
    }

    Outcome run(std::vector<std::string> args)
    {
        const std::string command = "cd / && env -i PATH=/usr/bin:/bin HOME='" + home.path().string() + "' TMPDIR='" +
                                    (home / "tmp").string() + "' XDG_CONFIG_HOME='" + (home / "config").string() + "' " +
                                    ZORVANE_PROGRAM;
        std::string line = command;
        for (const auto& a : args) line += " '" + a + "'";
        line += " >'" + (home / "out.txt").string() + "' 2>'" + (home / "err.txt").string() + "'";
        const int raw = std::system(line.c_str());
        Outcome o;
        o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        o.out = readFile(home / "out.txt");
        o.err = readFile(home / "err.txt");
        return o;
    }

    std::vector<std::string> codexArguments()
    {
        std::vector<std::string> lines;
        std::ifstream in(home / "args.txt");
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }

    void writePNG(const std::filesystem::path& path)
    {
        static constexpr unsigned char bytes[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes), sizeof bytes);
    }
};

} // namespace

TEST_F(AskFromTheCommandLine, PrintsTheTrimmedAnswerAndUsesTheModeFromTheSettings)
{
    std::filesystem::create_directories(home / "config/zorvane");
    std::ofstream(home / "config/zorvane/preferences.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>aiResponseMode</key><string>thinking</string></dict></plist>\n";

    const Outcome o = run({"--ask", "¿Qué es esto?"});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "Hola desde Codex\n");
    const auto args = codexArguments();
    ASSERT_GE(args.size(), 3u);
    EXPECT_EQ(args[1], "--config");
    EXPECT_EQ(args[2], "model_reasoning_effort=\"high\"");
    EXPECT_EQ(args.back(), "-");
    EXPECT_NE(readFile(home / "prompt.txt").find("Pregunta del usuario:\n¿Qué es esto?"), std::string::npos);
}

TEST_F(AskFromTheCommandLine, AnImageIsAttachedAsOneArgumentAndRemovedAfterwards)
{
    writePNG(home / "shot.png");
    const Outcome o = run({"--ask", "hola", "--image", (home / "shot.png").string(), "--mode", "fast"});
    EXPECT_EQ(o.status, 0) << o.err;
    const auto args = codexArguments();
    ASSERT_GE(args.size(), 2u);
    EXPECT_EQ(args[1], "--model");
    const std::string image = args[args.size() - 2];
    EXPECT_EQ(image.rfind("--image=" + (home / "tmp").string() + "/zorvane-selection-", 0), 0u) << image;
    EXPECT_EQ(args.back(), "-");
    EXPECT_NE(readFile(home / "prompt.txt").find("La imagen adjunta es el único contenido seleccionado."), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(home / "tmp")) << "transport files left behind";
}

TEST_F(AskFromTheCommandLine, FailuresGoToStandardErrorInSpanishWithStatusOne)
{
    writeCodex("echo 'Not logged in' >&2; exit 1", "exit 0");
    Outcome o = run({"--ask", "hola"});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "Para evitar consumo de API, inicia sesión en Codex con ChatGPT. Estado actual: Not logged in\n");
    EXPECT_FALSE(std::filesystem::exists(home / "args.txt")) << "the query ran although not signed in";

    std::ofstream(home / "notes.txt") << "no es una imagen";
    o = run({"--ask", "hola", "--image", (home / "notes.txt").string()});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("no es una imagen PNG"), std::string::npos) << o.err;
}

TEST(CommandLineArguments, MistakesAreExplainedAndNothingIsAsked)
{
    EXPECT_FALSE(parseCommandLine({"--ask"}).request);
    EXPECT_FALSE(parseCommandLine({"--ask", "x", "--mode", "Thinking"}).request);
    EXPECT_FALSE(parseCommandLine({"--image", "a.png"}).request);
    EXPECT_FALSE(parseCommandLine({"--frobnicate"}).request);
    const auto ok = parseCommandLine({"--mode", "thinking", "--ask", "--image"});
    ASSERT_TRUE(ok.request); // a question may itself look like an option
    EXPECT_EQ(ok.request->question, "--image");
    EXPECT_EQ(ok.request->mode, AIResponseMode::thinking);
    EXPECT_EQ(parseCommandLine({}).request->action, CommandLineRequest::Action::startApplication);
}
