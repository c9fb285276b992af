#include <gtest/gtest.h>

#include <ostream>

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "shell/DisplayProbe.h"
#include "shell/WindowedApplication.h"

namespace spatialmux {
namespace {

struct DisplayCase {
    std::map<std::string, std::string> environment;
    bool xAnswers;
    bool waylandAnswers;
    std::string problem;  // empty: a window system can be reached
};

void PrintTo(const DisplayCase& c, std::ostream* os) {
    for (const auto& [name, value] : c.environment) *os << name << "='" << value << "' ";
    *os << (c.xAnswers ? "X answers " : "") << (c.waylandAnswers ? "Wayland answers" : "");
}

class DisplayCheckTest : public testing::TestWithParam<DisplayCase> {};

TEST_P(DisplayCheckTest, NeedsAWindowSystemThatAnswers) {
    const DisplayCase& c = GetParam();
    std::vector<std::string> probed;
    DisplayProbes probes;
    probes.x = [&](const std::string& display) {
        probed.push_back("x " + display);
        return c.xAnswers;
    };
    probes.wayland = [&](const std::string& path) {
        probed.push_back("wayland " + path);
        return c.waylandAnswers;
    };
    const std::string problem = DisplayProblem(
        [&c](const char* name) -> const char* {
            const auto it = c.environment.find(name);
            return it == c.environment.end() ? nullptr : it->second.c_str();
        },
        probes);
    EXPECT_EQ(problem, c.problem);
    // A display named in the environment is asked for by that name.
    const auto display = c.environment.find("DISPLAY");
    if (c.problem.find("DISPLAY=") != std::string::npos && display != c.environment.end()) {
        EXPECT_NE(std::find(probed.begin(), probed.end(), "x " + display->second), probed.end());
    }
}

const std::map<std::string, std::string> kX = {{"DISPLAY", ":0"}};
const std::map<std::string, std::string> kWaylandSession = {{"WAYLAND_DISPLAY", "wayland-1"},
                                                            {"XDG_RUNTIME_DIR", "/run/user/1000"},
                                                            {"XDG_SESSION_TYPE", "wayland"}};

INSTANTIATE_TEST_SUITE_P(
    Environments, DisplayCheckTest,
    testing::Values(
        DisplayCase{{}, true, true, "neither DISPLAY nor WAYLAND_DISPLAY is set"},
        DisplayCase{{{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}},
                    true,
                    true,
                    "neither DISPLAY nor WAYLAND_DISPLAY is set"},
        DisplayCase{
            {{"HOME", "/home/me"}}, true, true, "neither DISPLAY nor WAYLAND_DISPLAY is set"},
        DisplayCase{kX, true, false, ""},
        // Set, but nothing behind it: Qt would abort.
        DisplayCase{{{"DISPLAY", ":99"}}, false, false, "DISPLAY=:99 cannot be reached"},
        DisplayCase{{{"DISPLAY", ":99"}, {"QT_QPA_PLATFORM", "xcb"}},
                    false,
                    true,
                    "DISPLAY=:99 cannot be reached"},
        DisplayCase{kWaylandSession, false, true, ""},
        DisplayCase{kWaylandSession, false, false,
                    "WAYLAND_DISPLAY=wayland-1 cannot be reached; DISPLAY is not set"},
        // Outside a Wayland session Qt takes xcb, whatever answers on Wayland.
        DisplayCase{{{"WAYLAND_DISPLAY", "wayland-0"}}, false, true, "DISPLAY is not set"},
        DisplayCase{{{"QT_QPA_PLATFORM", "wayland;xcb"}, {"DISPLAY", ":0"}}, true, false, ""},
        DisplayCase{{{"QT_QPA_PLATFORM", "offscreen"}}, false, false, ""},
        DisplayCase{
            {{"QT_QPA_PLATFORM", "offscreen:fontconfig"}, {"DISPLAY", ":99"}}, false, false, ""}));

struct ProgramCase {
    const char* program;
    QStringList arguments;
};

void PrintTo(const ProgramCase& c, std::ostream* os) {
    *os << QFileInfo(QString::fromUtf8(c.program)).fileName().toStdString() << ' '
        << c.arguments.join(QLatin1Char(' ')).toStdString();
}

class WithoutDisplayTest : public testing::TestWithParam<ProgramCase> {};

// Run as its own process: it must explain itself and end, never crash.
TEST_P(WithoutDisplayTest, ExplainsOnStandardErrorAndFails) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QString::fromUtf8(GetParam().program), GetParam().arguments);
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_NE(process.exitCode(), 0);
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    EXPECT_TRUE(errors.contains(QStringLiteral("no display"))) << errors.toStdString();
}

// A DISPLAY that is set but has no server behind it: the same message and
// exit status, not Qt's abort.
TEST_P(WithoutDisplayTest, AnUnreachableDisplayIsExplainedTheSameWay) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":4321"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("XDG_SESSION_TYPE"));
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QString::fromUtf8(GetParam().program), GetParam().arguments);
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1);
    const QString errors = QString::fromUtf8(process.readAllStandardError());
    EXPECT_TRUE(errors.contains(QStringLiteral("no display is available"))) << errors.toStdString();
    EXPECT_TRUE(errors.contains(QStringLiteral("DISPLAY=:4321 cannot be reached")))
        << errors.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Programs, WithoutDisplayTest,
    testing::Values(ProgramCase{SPATIALMUX_BINARY, {}},
                    ProgramCase{SPATIALMUX_BINARY, {QStringLiteral("/nonexistent.MP4")}},
                    ProgramCase{SPATIALMUX_DROPLET_BINARY, {}},
                    ProgramCase{SPATIALMUX_DROPLET_BINARY,
                                {QStringLiteral("/a.MP4"), QStringLiteral("/b.MP4")}}));

}  // namespace
}  // namespace spatialmux

namespace spatialmux {
namespace {

using Files = std::optional<std::vector<std::string>>;

// Calls `parse` with the program name followed by `arguments`.
Files Parse(Files (*parse)(int, char**), std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "spatialmux");
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    return parse(static_cast<int>(arguments.size()), argv.data());
}

class LaunchArgumentsTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        movie = dir.filePath("my trip.MP4").toStdString();
        std::ofstream(movie) << "movie";
        saved = std::filesystem::current_path();
        std::filesystem::current_path(dir.path().toStdString());
    }
    void TearDown() override { std::filesystem::current_path(saved); }

    QTemporaryDir dir;
    std::string movie;
    std::filesystem::path saved;
};

TEST_F(LaunchArgumentsTest, TheProgramHandsOverOneExistingFileMadeAbsolute) {
    EXPECT_EQ(Parse(&FileFromProgramArguments, {movie}), Files(std::vector<std::string>{movie}));
    EXPECT_EQ(Parse(&FileFromProgramArguments, {"my trip.MP4"}),
              Files(std::vector<std::string>{movie}));
    EXPECT_EQ(Parse(&FileFromProgramArguments, {}), std::nullopt);
    EXPECT_EQ(Parse(&FileFromProgramArguments, {"missing.MP4"}), std::nullopt);
    EXPECT_EQ(Parse(&FileFromProgramArguments, {dir.path().toStdString()}), std::nullopt);
}

TEST_F(LaunchArgumentsTest, TheLauncherHandsOverEveryArgumentTogether) {
    const std::string folder = dir.path().toStdString();
    EXPECT_EQ(Parse(&FilesFromDropletArguments, {}), std::nullopt);
    EXPECT_EQ(Parse(&FilesFromDropletArguments, {"my trip.MP4", "-platform", "/x/b.mov"}),
              Files(std::vector<std::string>{movie, folder + "/-platform", "/x/b.mov"}));
}

// The desktop hands several files to one program run: it must be a program
// that takes them all as files (the queue window, or the droplet's
// launcher, which takes them as one drop), and never the command-line
// program itself, which would take two files as an input and an output to
// write over. The menu shows the queue window; the droplet is only offered
// for the movies it opens.
std::map<std::string, std::string> DesktopEntry(const std::string& name) {
    std::ifstream entry(SPATIALMUX_SOURCE_DIR "/resources/" + name);
    std::map<std::string, std::string> keys;
    std::string line;
    std::getline(entry, line);
    EXPECT_EQ(line, "[Desktop Entry]") << name;
    while (std::getline(entry, line)) {
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos) keys[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return keys;
}

TEST(DesktopEntryTest, HandsFilesToTheQueueWindowOrTheLauncher) {
    for (const auto& [name, exec, hidden] :
         {std::tuple{"spatialmux.desktop", "spatialmux-gui %F", ""},
          std::tuple{"spatialmux-droplet.desktop", "spatialmux-droplet %F", "true"}}) {
        SCOPED_TRACE(name);
        std::map<std::string, std::string> keys = DesktopEntry(name);
        EXPECT_EQ(keys["Type"], "Application");
        EXPECT_EQ(keys["Exec"], exec);
        EXPECT_EQ(keys["MimeType"], "video/mp4;video/quicktime;");
        EXPECT_EQ(keys["Terminal"], "false");
        EXPECT_EQ(keys["NoDisplay"], hidden);
    }
}

}  // namespace
}  // namespace spatialmux
