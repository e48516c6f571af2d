// varek-import: edited images, named as varek-export names them, written back
// into the game folder they came from, after a dry run, with a backup and an undo.
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "art/GameBackup.h"
#include "art/GameFolder.h"
#include "art/Replacement.h"
#include "imaging/DecodedImage.h"
#include "imaging/PaletteFile.h"
#include "util/AtomicWrite.h"
#include "util/Error.h"
#include "util/FileRead.h"
#include "util/Text.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "varek-import";

constexpr const char* kUsage =
    "Usage: varek-import [options] GAME_FOLDER INPUT...\n"
    "       varek-import --undo GAME_FOLDER\n"
    "\n"
    "Puts edited images back into the game folder, each into the file its name\n"
    "names as varek-export writes them: CELS3/NAME.bmp|png|gif the wall\n"
    "CELS3/NAME.CEL, STILLCEL/NAME.* the still picture STILLCEL/NAME.CEL,\n"
    "FLI/NAME-001.png ... (a numbered sequence) or FLI/NAME.gif the animation\n"
    "FLI/NAME.FLI or .FLC, PALETTE.gpl|pal|act|png the palette PALETTE.PAL. An INPUT\n"
    "is an image or palette file, or a folder varek-export wrote (or one of its\n"
    "CELS3, STILLCEL and FLI folders).\n"
    "\n"
    "Without --into nothing is written: each file that would change is listed with\n"
    "its size now and after and what changes. With --into, each file replaced is\n"
    "first copied to GAME_FOLDER/.varek-backup/DATE-TIME/, then the new file is\n"
    "written beside it and renamed into place. --undo puts the last backup back\n"
    "(after backing up what it replaces).\n"
    "\n"
    "Options:\n"
    "  --into               write the files (the default is a dry run)\n"
    "  --quantize           give colours outside the palette the nearest palette\n"
    "                       colour, and colours between the 6-bit levels the nearest\n"
    "                       level, instead of refusing the image\n"
    "  --reserve LIST       palette indices no colour may be mapped to, as 0,16-31\n"
    "  --no-rotate          walls were exported unturned (varek-export --no-rotate)\n"
    "  --timeline           sequences hold one image for every file frame\n"
    "                       (varek-export --timeline)\n"
    "  --keep-going         write what can be written when some inputs are refused\n"
    "  -q, --quiet          list nothing but problems\n"
    "  -h, --help           show this help and exit\n"
    "  --version            show the version and exit\n"
    "\n"
    "Exit status: 0 when every input was taken (or the dry run found none refused),\n"
    "1 when an input was refused or a file could not be written (without\n"
    "--keep-going nothing is then written), 2 when the arguments or the game folder\n"
    "cannot be used (nothing is written), 128 + the signal's number when SIGINT,\n"
    "SIGTERM or SIGHUP stopped it (every game file is whole, old or new).\n";

int UsageError(const std::string& problem)
{
    std::cerr << kProgram << ": " << problem << "\nTry '" << kProgram
              << " --help' for more information.\n";
    return 2;
}

// Names come from the user's and the game's folders: control characters are
// shown as '?' so that none acts on the terminal.
std::string Shown(std::string text)
{
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            c = '?';
        }
    }
    return text;
}

struct Request {
    fs::path game;
    std::vector<fs::path> inputs;
    varek::ReplacementOptions options;
    bool into = false;
    bool undo = false;
    bool keepGoing = false;
    bool quiet = false;
};

// "0,16-31" as the indices it names; throws std::invalid_argument.
void ParseReserved(const std::string& text, std::array<bool, varek::kPaletteEntries>& reserved)
{
    std::size_t at = 0;
    auto number = [&]() {
        std::size_t start = at;
        int value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 3) {
            value = value * 10 + (text[at++] - '0');
        }
        if (at == start || value > 255) {
            throw std::invalid_argument("--reserve takes indices from 0 to 255, as 0,16-31");
        }
        return value;
    };
    while (at < text.size() || at == 0) {
        const int first = number();
        int last = first;
        if (at < text.size() && text[at] == '-') {
            ++at;
            last = number();
        }
        if (last < first) {
            throw std::invalid_argument("--reserve takes ranges from low to high, as 16-31");
        }
        for (int i = first; i <= last; ++i) {
            reserved[static_cast<std::size_t>(i)] = true;
        }
        if (at == text.size()) {
            break;
        }
        if (text[at++] != ',') {
            throw std::invalid_argument("--reserve takes indices from 0 to 255, as 0,16-31");
        }
    }
}

// The images and palettes of an INPUT folder: an exported folder's category
// folders and palette files, or one category folder's files.
void AddFolder(const fs::path& folder, std::vector<varek::ImportSource>& sources)
{
    const std::string name = varek::LowerAscii(folder.filename().string());
    auto addFiles = [&](const fs::path& from) {
        std::vector<fs::path> files;
        for (const fs::directory_entry& entry : fs::directory_iterator(from)) {
            const std::string file = entry.path().filename().string();
            const std::string lower = varek::LowerAscii(file);
            const bool image =
                lower.ends_with(".bmp") || lower.ends_with(".png") || lower.ends_with(".gif");
            if (!varek::IsHiddenName(file) && image && entry.is_regular_file()) {
                files.push_back(entry.path());
            }
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            sources.push_back({from.filename().string(), file.filename().string(), file});
        }
    };
    if (name == "cels3" || name == "stillcel" || name == "fli") {
        addFiles(folder);
        return;
    }
    std::vector<fs::directory_entry> entries(fs::directory_iterator(folder), {});
    std::sort(entries.begin(), entries.end());
    for (const fs::directory_entry& entry : entries) {
        const std::string file = entry.path().filename().string();
        const std::string lower = varek::LowerAscii(file);
        if ((lower == "cels3" || lower == "stillcel" || lower == "fli") && entry.is_directory()) {
            addFiles(entry.path());
        } else if (lower.starts_with("palette.") && entry.is_regular_file()) {
            sources.push_back({folder.filename().string(), file, entry.path()});
        }
    }
}

varek::FileBytes ReadInput(const fs::path& path)
{
    const varek::InputFile file(path);
    varek::RefuseLargerThan(file.Size(), varek::kMaxFliFileBytes);
    return file.ReadAll();
}

// SIGINT, SIGTERM and SIGHUP let the file being written finish, then stop the
// program; a second signal ends it at once, which still leaves each game file
// old or new, since every file is renamed into place whole.
class SignalStop {
public:
    SignalStop()
    {
        sigemptyset(&m_signals);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            sigaddset(&m_signals, signal);
        }
        pthread_sigmask(SIG_BLOCK, &m_signals, nullptr);
        m_waiter = std::thread([this] {
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
            }
        });
    }
    ~SignalStop()
    {
        m_finishing = true;
        pthread_kill(m_waiter.native_handle(), SIGHUP);
        m_waiter.join();
    }
    SignalStop(const SignalStop&) = delete;
    SignalStop& operator=(const SignalStop&) = delete;

    int Received() const { return m_received.load(); }

private:
    sigset_t m_signals{};
    std::atomic<int> m_received{0};
    std::atomic<bool> m_finishing{false};
    std::thread m_waiter;
};

// Backs up every target, then writes each; returns the exit status.
int WriteChanges(const fs::path& game, const std::vector<varek::GameFileChange>& changes,
                 bool quiet, const char* done)
{
    if (changes.empty()) {
        return 0;
    }
    SignalStop signals;
    fs::path backup;
    try {
        backup = varek::BackUpGameFiles(game, changes);
    } catch (const std::exception& error) {
        std::cerr << kProgram << ": nothing written, the backup failed: " << Shown(error.what())
                  << '\n';
        return 1;
    }
    if (!quiet) {
        std::cout << "Backup: " << Shown(backup.string()) << std::endl;
    }
    auto stopped = [&](int signal) {
        std::cerr << kProgram << ": stopped by " << strsignal(signal)
                  << "; every game file is whole, the backup is in " << Shown(backup.string())
                  << '\n';
        return 128 + signal;
    };
    if (const int signal = signals.Received()) {
        return stopped(signal);
    }
    std::size_t written = 0;
    try {
        written = varek::WriteGameFiles(changes, [&](const varek::GameFileChange& change) {
            if (!quiet) {
                std::cout << done << ": " << Shown(change.relative.generic_string()) << '\n';
            }
            return signals.Received() == 0;
        });
    } catch (const std::exception& error) {
        std::cerr << kProgram << ": " << Shown(error.what()) << "; the files before it are " << done
                  << ", the backup is in " << Shown(backup.string()) << '\n';
        return 1;
    }
    if (const int signal = signals.Received()) {
        return written < changes.size() ? stopped(signal) : 128 + signal;
    }
    return 0;
}

int Undo(const fs::path& game, bool quiet)
{
    const std::optional<fs::path> last = varek::NewestBackup(game);
    if (!last) {
        std::cerr << kProgram << ": " << Shown(game.string()) << " has no backup to restore\n";
        return 1;
    }
    std::vector<varek::GameFileChange> changes;
    try {
        changes = varek::RestoreChanges(game, *last);
    } catch (const std::exception& error) {
        std::cerr << kProgram << ": the backup " << Shown(last->string())
                  << " cannot be read: " << Shown(error.what()) << '\n';
        return 1;
    }
    if (!quiet) {
        std::cout << "Restoring " << Shown(last->string()) << '\n';
    }
    return WriteChanges(game, changes, quiet, "restored");
}

int Run(const Request& request)
{
    std::optional<varek::GameFolder> game;
    try {
        game.emplace(varek::GameFolder::Open(request.game));
    } catch (const varek::Error& error) {
        std::cerr << kProgram << ": " << Shown(request.game.string()) << ": "
                  << Shown(error.detail()) << '\n';
        return 2;
    }
    if (request.undo) {
        return Undo(request.game, request.quiet);
    }
    std::vector<varek::ImportSource> sources;
    for (const fs::path& input : request.inputs) {
        std::error_code ec;
        try {
            if (!fs::exists(input, ec)) {
                std::cerr << kProgram << ": " << Shown(input.string())
                          << ": no such file or folder\n";
                return 2;
            }
            if (fs::is_directory(input, ec)) {
                AddFolder(input, sources);
            } else {
                const fs::path parent =
                    input.has_parent_path() ? input.parent_path() : fs::path(".");
                sources.push_back(
                    {fs::absolute(parent).filename().string(), input.filename().string(), input});
            }
        } catch (const std::exception& error) {
            std::cerr << kProgram << ": " << Shown(input.string()) << ": " << Shown(error.what())
                      << '\n';
            return 2;
        }
    }
    if (sources.empty()) {
        std::cerr << kProgram << ": the inputs hold no image to import\n";
        return 2;
    }
    const varek::ReplacementPlan plan = varek::PlanReplacements(*game, sources);
    std::size_t refused = plan.refused.size();
    for (const auto& [path, reason] : plan.refused) {
        std::cerr << kProgram << ": " << Shown(path.string()) << ": " << Shown(reason) << '\n';
    }
    std::vector<varek::GameFileChange> changes;
    for (const varek::Replacement& replacement : plan.replacements) {
        try {
            const varek::FileBytes old = ReadInput(replacement.path);
            varek::ReplacementReport report;
            varek::ByteArray bytes =
                varek::BuildReplacement(*game, replacement, old.bytes(), request.options, report);
            const bool same =
                std::equal(bytes.begin(), bytes.end(), old.bytes().begin(), old.bytes().end());
            if (!request.quiet) {
                std::cout << Shown(replacement.target) << ": " << varek::WithThousands(old.size())
                          << " bytes now, " << varek::WithThousands(bytes.size()) << " after; "
                          << (same ? std::string("unchanged")
                                   : varek::DescribeReport(report, replacement.kind))
                          << '\n';
            }
            if (!same) {
                changes.push_back({replacement.path, fs::relative(replacement.path, request.game),
                                   std::move(bytes)});
            }
        } catch (const std::exception& error) {
            ++refused;
            std::cerr << kProgram << ": " << Shown(replacement.target) << ": "
                      << Shown(error.what()) << '\n';
        }
    }
    if (refused > 0 && !request.keepGoing) {
        std::cerr << kProgram << ": " << varek::Counted(refused, "input", "inputs")
                  << " refused; nothing " << (request.into ? "written" : "would be written")
                  << " (--keep-going writes the rest)\n";
        return 1;
    }
    if (!request.into) {
        if (!request.quiet) {
            std::cout << "Dry run: " << varek::Counted(changes.size(), "file", "files")
                      << " would change; --into writes them.\n";
        }
        return refused > 0 ? 1 : 0;
    }
    const int status = WriteChanges(request.game, changes, request.quiet, "written");
    return status != 0 ? status : refused > 0 ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    ::signal(SIGPIPE, SIG_IGN);
    Request request;
    std::vector<fs::path> paths;
    bool optionsEnded = false;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string_view arg = argv[i];
            if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
                paths.emplace_back(arg);
            } else if (arg == "--") {
                optionsEnded = true;
            } else if (arg == "--help" || arg == "-h") {
                std::cout << kUsage;
                return 0;
            } else if (arg == "--version") {
                std::cout << kProgram << ' ' << VAREK_VERSION << '\n';
                return 0;
            } else if (arg == "--into") {
                request.into = true;
            } else if (arg == "--undo") {
                request.undo = true;
            } else if (arg == "--quantize") {
                request.options.mapping.quantize = true;
            } else if (arg == "--no-rotate") {
                request.options.rotate = false;
            } else if (arg == "--timeline") {
                request.options.timeline = true;
            } else if (arg == "--keep-going") {
                request.keepGoing = true;
            } else if (arg == "--quiet" || arg == "-q") {
                request.quiet = true;
            } else if (arg == "--reserve" || arg.starts_with("--reserve=")) {
                std::string value;
                if (arg == "--reserve") {
                    if (i + 1 >= argc) {
                        return UsageError("--reserve needs a list of indices");
                    }
                    value = argv[++i];
                } else {
                    value = std::string(arg.substr(10));
                }
                ParseReserved(value, request.options.mapping.reserved);
            } else {
                return UsageError("unknown option '" + Shown(std::string(arg)) + "'");
            }
        }
    } catch (const std::invalid_argument& error) {
        return UsageError(error.what());
    }
    if (paths.empty()) {
        return UsageError("a game folder is needed");
    }
    if (request.undo && paths.size() != 1) {
        return UsageError("--undo takes the game folder alone");
    }
    if (!request.undo && paths.size() < 2) {
        return UsageError("a game folder and at least one image are needed");
    }
    request.game = paths.front();
    request.inputs.assign(paths.begin() + 1, paths.end());
    try {
        return Run(request);
    } catch (const std::exception& error) {
        std::cerr << kProgram << ": " << Shown(error.what()) << '\n';
        return 2;
    }
}
