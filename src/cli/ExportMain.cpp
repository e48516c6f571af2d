// varek-export: every wall, still picture and animation frame of a game folder, or
// one animation or still picture on its own, as image files, the same bytes the
// window's "Save to BMP" writes.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <new>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "art/GameFolder.h"
#include "export/Exporter.h"
#include "imaging/Enlarge.h"
#include "imaging/WebpImage.h"
#include "util/Error.h"
#include "util/Text.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "varek-export";

constexpr const char* kUsage =
    "Usage: varek-export [options] GAME_FOLDER OUT_FOLDER\n"
    "       varek-export [options] FILE OUT_FOLDER\n"
    "\n"
    "Exports every wall and sprite (CELS3), still picture (STILLCEL) and animation\n"
    "frame (FLI) of the game folder into OUT_FOLDER/CELS3, OUT_FOLDER/STILLCEL and\n"
    "OUT_FOLDER/FLI, as the window saves them: walls turned a quarter turn in the\n"
    "colours of PALETTE.PAL, still pictures in their own colours, every animation\n"
    "frame in its own colours as NAME-01.bmp, NAME-02.bmp, ... (NAME-001.bmp ... for\n"
    "100 pictures or more: the numbers take as many digits as the count, so names\n"
    "sort in order in every listing)\n"
    "\n"
    "Given one animation or still picture with its own colours, exports it alone,\n"
    "named and written as the game folder's export writes it (OUT_FOLDER/FLI or\n"
    "OUT_FOLDER/STILLCEL); --category does not apply to it\n"
    "\n"
    "Options:\n"
    "  --format bmp|png|gif|apng|webp\n"
    "                       the image format (default bmp); png writes 8-bit indexed\n"
    "                       PNG files with the same pixels and 256 colours; gif\n"
    "                       writes each animation as one looping NAME.gif at its\n"
    "                       own speed, each picture in its own colours (a picture\n"
    "                       shorter than 2 hundredths of a second gives way to the\n"
    "                       next, as browsers slow such frames down); apng writes\n"
    "                       each animation as one looping NAME.png, every picture\n"
    "                       exact in its colours and time, and walls and stills as\n"
    "                       png does; webp writes each animation as one looping\n"
    "                       lossless NAME.webp, times in whole milliseconds that\n"
    "                       never stray half a millisecond from the file's, and\n"
    "                       walls and stills as lossless WebP files\n"
    "  --scale N            enlarge every picture N times (1 to 8), each pixel a square\n"
    "                       of N x N pixels, in every format\n"
    "  --sheet              sprite sheets instead of image files: each animation as\n"
    "                       one PNG holding every picture in a grid, NAME.png, and\n"
    "                       NAME.json giving each frame's place and duration in\n"
    "                       milliseconds (the JSON array layout of sprite-sheet\n"
    "                       packers); the walls as walls.png and walls.json, the\n"
    "                       stills as stills.png and stills.json. Indexed PNG when\n"
    "                       the colours never change, RGB otherwise\n"
    "  --sheet-columns N    pictures a row of a sheet (default: the smallest square)\n"
    "  --category NAME      export only walls, stills or animations; may be repeated\n"
    "  --no-rotate          write walls and sprites as stored, not turned\n"
    "  --timeline           one image for every frame of an animation file, numbered\n"
    "                       by file frame. The default is one image for every\n"
    "                       picture: a frame that holds no picture of its own would\n"
    "                       only repeat the one before it\n"
    "  -q, --quiet          no progress on standard error\n"
    "  -h, --help           show this help and exit\n"
    "  --version            show the version and exit\n"
    "\n"
    "Exit status: 0 when everything was exported, 1 when a file could not be read,\n"
    "decoded or written (the rest is still exported), 2 when the arguments, the game\n"
    "folder or the output folder cannot be used or no chosen category folder can be\n"
    "listed (nothing is written), 128 + the signal's number when SIGINT, SIGTERM or\n"
    "SIGHUP stopped it (every image written is whole).\n";

int UsageError(const std::string& problem)
{
    std::cerr << kProgram << ": " << problem << "\nTry '" << kProgram
              << " --help' for more information.\n";
    return 2;
}

// Characters a terminal acts on rather than shows: the C0 and C1 controls, DEL,
// and the marks that turn the direction of the text after them round, so that a
// name could show as another.
bool ActsOnTerminal(char32_t code)
{
    return code < 0x20 || (code >= 0x7F && code <= 0x9F) || code == 0x061C || code == 0x200E ||
           code == 0x200F || (code >= 0x202A && code <= 0x202E) ||
           (code >= 0x2066 && code <= 0x2069);
}

// text with what a terminal would act on written out: file names come from the
// game folder, and a name holding an escape sequence must not move the cursor,
// clear the screen or retitle the window, nor one holding a direction mark show
// as another name. C0 controls and DEL become \xNN, the other characters
// ActsOnTerminal names \uNNNN, and each byte that is no UTF-8 \xNN; every other
// character is kept.
std::string Printable(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size());
    char code[16];
    for (std::size_t i = 0; i < text.size();) {
        const auto [character, length] = varek::DecodeUtf8(text, i);
        if (length == 0 || character < 0x20 || character == 0x7F) {
            std::snprintf(code, sizeof code, "\\x%02x", static_cast<unsigned char>(text[i]));
            shown += code;
            ++i;
        } else if (ActsOnTerminal(character)) {
            std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(character));
            shown += code;
            i += length;
        } else {
            shown.append(text, i, length);
            i += length;
        }
    }
    return shown;
}

// The game folder messages break lines as the game's platform does.
std::string WithNativeLineBreaks(std::string text)
{
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
    return text;
}

// Progress on standard error: a line kept up to date on a terminal, otherwise one
// line a source file so logs stay readable.
class ConsoleProgress final : public varek::ExportListener {
public:
    ConsoleProgress(bool quiet, bool live) : m_quiet(quiet), m_live(live && !quiet) {}

    void FileStarted(std::size_t position, std::size_t total, const std::string& name) override
    {
        if (m_live) {
            Show(Counter(position, total) + Printable(name));
        }
    }

    void FrameWritten(std::size_t position, std::size_t total, const std::string& name,
                      std::size_t frame, std::size_t frameCount) override
    {
        using namespace std::chrono;
        // A terminal redrawn for each of a thousand frames slows the export down.
        if (m_live && (frame == frameCount || steady_clock::now() - m_shownAt > milliseconds(50))) {
            Show(Counter(position, total) + Printable(name) + " frame " + std::to_string(frame) +
                 "/" + std::to_string(frameCount));
        }
    }

    void FileFinished(std::size_t position, std::size_t total, const std::string& name,
                      std::size_t imagesWritten) override
    {
        if (!m_quiet && !m_live) {
            std::cerr << Counter(position, total) << Printable(name) << ": "
                      << varek::Counted(imagesWritten, "image", "images") << '\n';
        }
    }

    void Failed(const std::string& name, const std::string& reason) override
    {
        Clear();
        std::cerr << Printable(name) << ": " << Printable(reason) << '\n';
    }

    void Noted(const std::string& name, const std::string& note) override
    {
        Clear();
        std::cerr << Printable(name) << ": " << Printable(note) << '\n';
    }

    void Clear()
    {
        if (m_lineShown) {
            std::cerr << "\r\x1b[K" << std::flush;
            m_lineShown = false;
        }
    }

private:
    static std::string Counter(std::size_t position, std::size_t total)
    {
        std::string text(1, '[');
        text += std::to_string(position);
        text += '/';
        text += std::to_string(total);
        text += "] ";
        return text;
    }

    void Show(const std::string& text)
    {
        std::cerr << '\r' << text << "\x1b[K" << std::flush;
        m_lineShown = true;
        m_shownAt = std::chrono::steady_clock::now();
    }

    bool m_quiet;
    bool m_live;
    bool m_lineShown = false;
    std::chrono::steady_clock::time_point m_shownAt{};
};

// The value of an option given as "--name value" or "--name=value".
bool OptionValue(std::string_view arg, std::string_view name, int& index, int argc, char** argv,
                 std::string& value)
{
    if (arg == name) {
        if (index + 1 >= argc) {
            throw std::invalid_argument(std::string(name) + " needs a value");
        }
        value = argv[++index];
        return true;
    }
    if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=') {
        value = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

// SIGINT, SIGTERM and SIGHUP stop the export the way the window's Cancel does: no
// further file is started, the images being written are finished whole, and the
// program then exits with 128 + the signal's number. A second signal ends it at
// once; a temporary file that leaves behind is removed by the next export into
// the same folder.
class SignalStop {
public:
    SignalStop()
    {
        sigemptyset(&m_signals);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            sigaddset(&m_signals, signal);
        }
        // Blocked before any other thread starts, so that every thread inherits the
        // mask and only the waiting thread ever takes these signals.
        pthread_sigmask(SIG_BLOCK, &m_signals, nullptr);
        m_waiter = std::thread([this] { Wait(); });
    }

    ~SignalStop()
    {
        // The waiter waits for signals only: one sent to it ends it.
        m_finishing = true;
        pthread_kill(m_waiter.native_handle(), SIGHUP);
        m_waiter.join();
    }

    SignalStop(const SignalStop&) = delete;
    SignalStop& operator=(const SignalStop&) = delete;

    std::stop_token Token() const { return m_stop.get_token(); }
    // The signal that stopped the export, 0 when none did.
    int Received() const { return m_received.load(); }

private:
    void Wait()
    {
        for (;;) {
            int signal = 0;
            if (sigwait(&m_signals, &signal) != 0) {
                continue;
            }
            if (m_finishing) {
                return;
            }
            if (m_received.exchange(signal) != 0) {
                std::_Exit(128 + signal);
            }
            m_stop.request_stop();
        }
    }

    sigset_t m_signals{};
    std::stop_source m_stop;
    std::atomic<int> m_received{0};
    std::atomic<bool> m_finishing{false};
    std::thread m_waiter;
};

// An export the command line asks for, its options read.
struct ExportRequest {
    varek::ExportOptions options;
    bool quiet = false;
    std::string gameFolder;
    std::string outFolder;
};

// What the command line asks for: an export, the help or the version, or nothing
// it can do, said in the problem.
struct ShowHelp {};
struct ShowVersion {};
struct UsageProblem {
    std::string problem;
};
using Command = std::variant<ExportRequest, ShowHelp, ShowVersion, UsageProblem>;

// "walls, stills or animations": the names --category takes.
std::string CategoryNames()
{
    std::string names;
    for (std::size_t i = 0; i < varek::kCategoryCount; ++i) {
        if (i > 0) {
            names += i + 1 == varek::kCategoryCount ? " or " : ", ";
        }
        names += varek::InfoOf(varek::kAllCategories[i]).commandLineName;
    }
    return names;
}

std::optional<varek::ArtCategory> CategoryNamed(std::string_view name)
{
    for (const varek::ArtCategory category : varek::kAllCategories) {
        if (name == varek::InfoOf(category).commandLineName) {
            return category;
        }
    }
    return std::nullopt;
}

// The number text names when it is plain digits, no sign or spaces, from lowest
// to highest.
std::optional<int> NumberNamed(std::string_view text, int lowest, int highest)
{
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const int number = std::stoi(std::string(text));
    if (number < lowest || number > highest) {
        return std::nullopt;
    }
    return number;
}

std::optional<int> ScaleNamed(std::string_view text)
{
    return NumberNamed(text, varek::kMinScale, varek::kMaxScale);
}

// More columns than pictures leave a sheet as wide as its pictures anyway.
constexpr int kMostColumns = 100000;

std::optional<int> ColumnsNamed(std::string_view text)
{
    return NumberNamed(text, 1, kMostColumns);
}

// The arguments are read in order: the first that asks for the help or the
// version, or that is wrong, decides.
Command ParseArguments(int argc, char** argv)
{
    ExportRequest request;
    varek::ExportOptions& options = request.options;
    bool categoryGiven = false;
    bool formatGiven = false;
    std::vector<std::string> folders;
    try {
        bool optionsEnded = false;
        for (int i = 1; i < argc; ++i) {
            const std::string_view arg = argv[i];
            std::string value;
            if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
                folders.emplace_back(arg);
            } else if (arg == "--") {
                optionsEnded = true;
            } else if (arg == "--help" || arg == "-h") {
                return ShowHelp{};
            } else if (arg == "--version") {
                return ShowVersion{};
            } else if (arg == "--quiet" || arg == "-q") {
                request.quiet = true;
            } else if (arg == "--no-rotate") {
                options.rotate = false;
            } else if (arg == "--timeline") {
                options.timeline = true;
            } else if (OptionValue(arg, "--format", i, argc, argv, value)) {
                formatGiven = true;
                if (value == "bmp") {
                    options.format = varek::ImageFormat::Bmp;
                } else if (value == "png") {
                    options.format = varek::ImageFormat::Png;
                } else if (value == "gif") {
                    options.format = varek::ImageFormat::Gif;
                } else if (value == "apng") {
                    options.format = varek::ImageFormat::Apng;
                } else if (value == "webp" && varek::WebpSupported()) {
                    options.format = varek::ImageFormat::Webp;
                } else {
                    return UsageProblem{"unknown format '" + value + "' (bmp, png, gif" +
                                        (varek::WebpSupported() ? ", apng or webp)" : " or apng)")};
                }
            } else if (OptionValue(arg, "--scale", i, argc, argv, value)) {
                const std::optional<int> scale = ScaleNamed(value);
                if (!scale) {
                    return UsageProblem{"invalid scale '" + value + "' (a whole number from " +
                                        std::to_string(varek::kMinScale) + " to " +
                                        std::to_string(varek::kMaxScale) + ")"};
                }
                options.scale = *scale;
            } else if (arg == "--sheet") {
                options.sheet = true;
            } else if (OptionValue(arg, "--sheet-columns", i, argc, argv, value)) {
                const std::optional<int> columns = ColumnsNamed(value);
                if (!columns) {
                    return UsageProblem{"invalid column count '" + value +
                                        "' (a whole number from 1 to " +
                                        std::to_string(kMostColumns) + ")"};
                }
                options.sheetColumns = *columns;
            } else if (OptionValue(arg, "--category", i, argc, argv, value)) {
                const std::optional<varek::ArtCategory> category = CategoryNamed(value);
                if (!category) {
                    return UsageProblem{"unknown category '" + value + "' (" + CategoryNames() +
                                        ")"};
                }
                if (!categoryGiven) {
                    options.categories.fill(false);
                    categoryGiven = true;
                }
                options.categories[static_cast<std::size_t>(*category)] = true;
            } else {
                return UsageProblem{"unknown option '" + std::string(arg) + "'"};
            }
        }
    } catch (const std::invalid_argument& error) {
        return UsageProblem{error.what()};
    }
    if (options.sheet && formatGiven && options.format != varek::ImageFormat::Png) {
        return UsageProblem{"--sheet writes PNG sheets; --format cannot be another format"};
    }
    if (options.sheet && options.timeline) {
        return UsageProblem{
            "--timeline does not apply to --sheet: a sheet's frames carry their durations"};
    }
    if (options.sheetColumns != 0 && !options.sheet) {
        return UsageProblem{"--sheet-columns applies to --sheet only"};
    }
    if (folders.size() != 2) {
        return UsageProblem{folders.size() < 2 ? "a game folder and an output folder are needed"
                                               : "too many arguments"};
    }
    if (folders[0].empty() || folders[1].empty()) {
        // An empty name would stand for the current folder to some calls and for no
        // file at all to others.
        return UsageProblem{folders[0].empty() ? "the game folder is an empty name"
                                               : "the output folder is an empty name"};
    }
    request.gameFolder = folders[0];
    request.outFolder = folders[1];
    return request;
}

std::size_t ChosenCount(const varek::ExportOptions& options)
{
    return static_cast<std::size_t>(
        std::count(options.categories.begin(), options.categories.end(), true));
}

// Exports as request asks; returns the exit status.
int Run(ExportRequest request)
{
    std::optional<varek::GameFolder> game;
    const fs::path outFolder = request.outFolder;
    varek::ExportListing listing;
    std::error_code ec;
    if (fs::exists(request.gameFolder, ec) && !fs::is_directory(request.gameFolder, ec)) {
        // One file on its own: its images, named as in the folder's export.
        try {
            varek::LooseFile loose = varek::GameFolder::OpenFile(request.gameFolder);
            listing.files.emplace_back(loose.category, loose.name);
            request.options.categories.fill(false);
            request.options.categories[static_cast<std::size_t>(loose.category)] = true;
            game = std::move(loose.folder);
        } catch (const varek::Error& error) {
            std::cerr << kProgram << ": " << Printable(request.gameFolder) << ": "
                      << Printable(error.what()) << '\n';
            return 2;
        }
    } else {
        try {
            // Each category needs only its own folder, and walls the palette.
            game = varek::GameFolder::Open(request.gameFolder, request.options.categories);
        } catch (const varek::Error& error) {
            std::cerr << WithNativeLineBreaks(error.detail()) << '\n';
            return 2;
        }
        listing = varek::ListExportFiles(*game, request.options);
    }
    if (listing.unlisted.size() == ChosenCount(request.options)) {
        // Not one chosen category can be listed: there is nothing to export.
        for (const auto& [category, reason] : listing.unlisted) {
            std::cerr << kProgram << ": " << varek::InfoOf(category).subFolder << ": "
                      << Printable(reason) << '\n';
        }
        return 2;
    }
    try {
        varek::CheckOutputFolder(*game, outFolder);
        varek::MakeOutputFolder(outFolder, request.options);
    } catch (const varek::Error& error) {
        std::cerr << kProgram << ": " << Printable(error.detail()) << '\n';
        return 2;
    }

    try {
        SignalStop signals;
        request.options.stop = signals.Token();
        ConsoleProgress progress(request.quiet, isatty(STDERR_FILENO) == 1);
        const varek::ExportSummary summary =
            varek::ExportGameFolder(*game, listing, outFolder, request.options, progress);
        progress.Clear();
        std::cout << varek::Counted(summary.filesRead, "file", "files") << " read, "
                  << varek::Counted(summary.imagesWritten, "image", "images") << " written, "
                  << varek::Counted(summary.failures, "failure", "failures");
        if (summary.picturesMerged > 0) {
            std::cout << ", "
                      << varek::Counted(summary.picturesMerged, "short GIF picture",
                                        "short GIF pictures")
                      << " merged";
        }
        std::cout << std::endl;
        if (const int signal = signals.Received()) {
            std::cerr << kProgram << ": stopped by " << strsignal(signal)
                      << "; every image written is whole\n";
            return 128 + signal;
        }
        return summary.failures == 0 ? 0 : 1;
    } catch (const std::bad_alloc&) {
        std::cerr << kProgram << ": there is not enough memory to go on with the export\n";
        return 1;
    } catch (const std::exception& error) {
        std::cerr << kProgram << ": " << Printable(error.what()) << '\n';
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // Output read through a pipe the reader has closed (`| head -1`) must not end
    // the export half-way: a line that cannot be written is dropped, and the exit
    // status stays that of the export.
    ::signal(SIGPIPE, SIG_IGN);
    Command command = ParseArguments(argc, argv);
    if (std::holds_alternative<ShowHelp>(command)) {
        std::cout << kUsage;
        return 0;
    }
    if (std::holds_alternative<ShowVersion>(command)) {
        std::cout << kProgram << ' ' << VAREK_VERSION << '\n';
        return 0;
    }
    if (const auto* usage = std::get_if<UsageProblem>(&command)) {
        return UsageError(usage->problem);
    }
    return Run(std::move(std::get<ExportRequest>(command)));
}
