#include "art/Replacement.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <set>

#include "art/ArtFiles.h"
#include "fli/FliFormat.h"
#include "fli/FliLayout.h"
#include "fli/FliWriter.h"
#include "imaging/PaletteFile.h"
#include "util/ByteReader.h"
#include "util/Error.h"
#include "util/FileRead.h"
#include "util/Text.h"

namespace varek {

namespace {

std::pair<std::string, std::string> SplitExtension(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) {
        return {name, {}};
    }
    return {name.substr(0, dot), LowerAscii(name.substr(dot + 1))};
}

// "NAME-012" as NAME and 12.
std::optional<std::pair<std::string, int>> SplitNumber(const std::string& stem)
{
    const std::size_t dash = stem.rfind('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 == stem.size() ||
        stem.size() - dash - 1 > 5) {
        return std::nullopt;
    }
    int number = 0;
    for (std::size_t i = dash + 1; i < stem.size(); ++i) {
        if (stem[i] < '0' || stem[i] > '9') {
            return std::nullopt;
        }
        number = number * 10 + (stem[i] - '0');
    }
    return std::pair{stem.substr(0, dash), number};
}

std::string SizeText(std::int64_t width, std::int64_t height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

std::size_t CountDifferent(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b)
{
    std::size_t count = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        count += a[i] != b[i] ? 1 : 0;
    }
    return count + std::max(a.size(), b.size()) - std::min(a.size(), b.size());
}

void AddMapping(MappingReport& total, const MappingReport& one)
{
    total.changedPixels += one.changedPixels;
    total.changedColors += one.changedColors;
    total.largestError = std::max(total.largestError, one.largestError);
}

PaletteBlock BlockAt(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    const ByteSpan block =
        ByteReader(bytes, "the colour block")
            .Slice(static_cast<std::int64_t>(offset), static_cast<std::int64_t>(kPaletteBlockSize));
    PaletteBlock out{};
    std::copy(block.begin(), block.end(), out.begin());
    return out;
}

// A GIF stores what is shown, not which of several indices of one colour a pixel
// had: where a picture shows the colour its counterpart showed, the counterpart's
// index is taken when it shows that colour here too.
void KeepShownIndices(const Picture& counterpart, std::span<const ColorValue> colors,
                      IndexedImage& pixels)
{
    if (counterpart.image.width != pixels.width || counterpart.image.height != pixels.height) {
        return;
    }
    for (std::size_t i = 0; i < pixels.pixels.size(); ++i) {
        const std::uint8_t before = counterpart.image.pixels[i];
        const std::uint8_t after = pixels.pixels[i];
        if (before != after && before < colors.size() && colors[before] == colors[after] &&
            counterpart.palette[before] == colors[after]) {
            pixels.pixels[i] = before;
        }
    }
}

}  // namespace

ReplacementPlan PlanReplacements(const GameFolder& game, std::span<const ImportSource> sources)
{
    ReplacementPlan plan;
    // Each category's files by lower-case name without extension, and extension.
    std::map<ArtCategory, std::map<std::pair<std::string, std::string>, std::string>> lists;
    auto findTarget = [&](ArtCategory category, const std::string& stem,
                          std::initializer_list<const char*> extensions) -> std::string {
        auto listed = lists.find(category);
        if (listed == lists.end()) {
            listed = lists.emplace(category, decltype(lists)::mapped_type{}).first;
            for (const std::string& name : game.ReadFileList(category)) {
                const auto [nameStem, extension] = SplitExtension(name);
                listed->second.emplace(std::pair{LowerAscii(nameStem), extension}, name);
            }
        }
        for (const char* extension : extensions) {
            const auto found = listed->second.find({LowerAscii(stem), extension});
            if (found != listed->second.end()) {
                return found->second;
            }
        }
        return {};
    };
    struct Pending {
        Replacement replacement;
        std::map<int, std::filesystem::path> numbered;
        std::vector<std::filesystem::path> sources;
        std::string fault;
    };
    std::map<std::string, Pending> byTarget;
    for (const ImportSource& source : sources) {
        const auto [stem, extension] = SplitExtension(source.fileName);
        const std::string folder = LowerAscii(source.folderName);
        const bool image = extension == "bmp" || extension == "png" || extension == "gif";
        ArtCategory category = ArtCategory::WallsSprites;
        ReplacementKind kind = ReplacementKind::Wall;
        std::string name;
        std::optional<int> number;
        try {
            if (LowerAscii(stem) == "palette" && (extension == "gpl" || extension == "pal" ||
                                                  extension == "act" || extension == "png")) {
                kind = ReplacementKind::Palette;
                name = kPaletteFileName;
            } else if (!image) {
                plan.refused.emplace_back(source.path,
                                          "is no image the importer reads (.bmp, .png, .gif)");
                continue;
            } else if (folder == "cels3" || folder == "stillcel") {
                category = folder == "cels3" ? ArtCategory::WallsSprites : ArtCategory::OtherArt;
                kind = folder == "cels3" ? ReplacementKind::Wall : ReplacementKind::Still;
                name = findTarget(category, stem, {"cel"});
            } else if (folder == "fli") {
                category = ArtCategory::Animated;
                kind = ReplacementKind::Animated;
                std::string animation = stem;
                if (extension != "gif") {
                    const auto split = SplitNumber(stem);
                    if (!split) {
                        plan.refused.emplace_back(
                            source.path, "is no numbered picture of an animation (NAME-001)");
                        continue;
                    }
                    animation = split->first;
                    number = split->second;
                }
                name = findTarget(category, animation, {"fli", "flc"});
            } else {
                plan.refused.emplace_back(source.path,
                                          "lies in no folder the exporter writes (CELS3, "
                                          "STILLCEL, FLI)");
                continue;
            }
        } catch (const Error& error) {
            plan.refused.emplace_back(source.path, error.what());
            continue;
        }
        if (name.empty()) {
            plan.refused.emplace_back(source.path, std::string("names no file of the game's ") +
                                                       InfoOf(category).subFolder +
                                                       " folder to replace");
            continue;
        }
        const bool palette = kind == ReplacementKind::Palette;
        const std::string target =
            palette ? name : std::string(InfoOf(category).subFolder) + "/" + name;
        Pending& pending = byTarget[LowerAscii(target)];
        pending.sources.push_back(source.path);
        Replacement& replacement = pending.replacement;
        const bool first = pending.sources.size() == 1;
        if (first) {
            replacement.kind = kind;
            replacement.target = target;
            replacement.path = palette ? game.Entry(name) : game.FilePath(category, name);
            replacement.sequence = number.has_value();
        }
        if (number && replacement.sequence) {
            if (!pending.numbered.emplace(*number, source.path).second) {
                pending.fault = "picture " + std::to_string(*number) + " is given twice";
            }
        } else if (!first) {
            pending.fault = "is given by more than one file";
        } else {
            replacement.inputs.push_back(source.path);
        }
    }
    for (auto& [key, pending] : byTarget) {
        Replacement& replacement = pending.replacement;
        if (pending.fault.empty() && replacement.sequence) {
            int expected = 1;
            for (const auto& [number, path] : pending.numbered) {
                if (number != expected) {
                    pending.fault = "picture " + std::to_string(expected) +
                                    " of the numbered sequence is missing";
                    break;
                }
                replacement.inputs.push_back(path);
                ++expected;
            }
        }
        if (!pending.fault.empty()) {
            // Named once, by its first file, however many files it has.
            const std::size_t more = pending.sources.size() - 1;
            plan.refused.emplace_back(
                pending.sources.front(),
                replacement.target + ": " + pending.fault +
                    (more > 0 ? " (and " + Counted(more, "file", "files") + " more for it)"
                              : std::string()));
            continue;
        }
        plan.replacements.push_back(std::move(replacement));
    }
    return plan;
}

std::string DescribeReport(const ReplacementReport& report, ReplacementKind kind)
{
    std::vector<std::string> parts;
    if (!report.sizeBefore.empty()) {
        parts.push_back("size " + report.sizeBefore + " to " + report.sizeAfter);
    }
    if (kind != ReplacementKind::Palette) {
        parts.push_back(Counted(report.pixelsChanged, "pixel", "pixels") + " changed");
    }
    parts.push_back(Counted(report.colorsChanged, "colour", "colours") + " changed");
    if (kind == ReplacementKind::Animated) {
        parts.push_back("pictures " + std::to_string(report.picturesBefore) + " to " +
                        std::to_string(report.picturesAfter) + ", frames " +
                        std::to_string(report.framesBefore) + " to " +
                        std::to_string(report.framesAfter));
    }
    if (report.mapping.changedPixels > 0) {
        parts.push_back(Counted(report.mapping.changedPixels, "pixel", "pixels") +
                        " given the nearest palette colour (largest error " +
                        std::to_string(report.mapping.largestError) + " of 255)");
    }
    if (report.gridAdjusted > 0) {
        parts.push_back(Counted(report.gridAdjusted, "colour", "colours") +
                        " moved onto the 6-bit grid");
    }
    std::string text;
    for (const std::string& part : parts) {
        text += (text.empty() ? "" : "; ") + part;
    }
    return text;
}

ByteArray BuildWallFile(std::span<const std::uint8_t> old, const DecodedImage& image,
                        const Palette& palette, const ReplacementOptions& options,
                        ReplacementReport& report)
{
    report = ReplacementReport{};
    if (image.width != kWallSize || image.height != kWallSize) {
        throw Error(ErrorKind::Unsupported, "a wall or sprite is 64 x 64 pixels, the image " +
                                                SizeText(image.width, image.height));
    }
    const IndexedImage mapped = MapToPalette(image, palette, options.mapping, report.mapping);
    ByteArray out(old.begin(), old.end());
    out.resize(std::max(out.size(), kWallBytes));
    const ByteArray before(out.begin(), out.begin() + kWallBytes);
    for (std::int32_t y = 0; y < kWallSize; ++y) {
        for (std::int32_t x = 0; x < kWallSize; ++x) {
            const PixelPlace place = WallFilePixel({x, y}, options.rotate);
            out[static_cast<std::size_t>(place.y * kWallSize + place.x)] =
                mapped.pixels[static_cast<std::size_t>(y * kWallSize + x)];
        }
    }
    report.pixelsChanged =
        CountDifferent(before, std::span<const std::uint8_t>(out.data(), kWallBytes));
    return out;
}

ByteArray BuildStillFile(std::span<const std::uint8_t> old, const DecodedImage& image,
                         const ReplacementOptions& options, ReplacementReport& report)
{
    report = ReplacementReport{};
    if (IsFlcStill(old)) {
        throw Error(ErrorKind::Unsupported,
                    "the still picture replaced is an FLC file, which only an animation replaces");
    }
    const CelHeader header = ReadCelHeader(old);
    const IndexedImage before = BuildCelImage(old);
    const PaletteBlock oldBlock = BlockAt(old, kStillArtBlockOffset);
    if (image.width > 65535 || image.height > 65535 ||
        static_cast<std::int64_t>(image.PixelCount()) > kMaxStillPixels) {
        throw Error(ErrorKind::TooLarge, "a still picture holds at most 4096 x 4096 pixels");
    }
    PaletteBlock block = oldBlock;
    IndexedImage after;
    after.width = image.width;
    after.height = image.height;
    if (image.indexed()) {
        block = ToVgaLevels(image.colors, &oldBlock, options.mapping.quantize, report.gridAdjusted);
        after.pixels = image.indices;
    } else {
        after = MapToPalette(image, DecodePaletteBlock(old, kStillArtBlockOffset).palette,
                             options.mapping, report.mapping);
    }
    for (std::size_t i = 0; i < kPaletteEntries; ++i) {
        report.colorsChanged +=
            !std::equal(block.begin() + 3 * i, block.begin() + 3 * i + 3, oldBlock.begin() + 3 * i)
                ? 1
                : 0;
    }
    ByteArray out;
    if (after.width == before.width && after.height == before.height) {
        out.assign(old.begin(), old.end());
        report.pixelsChanged = CountDifferent(before.pixels, after.pixels);
    } else {
        report.sizeBefore = SizeText(header.width, header.height);
        report.sizeAfter = SizeText(after.width, after.height);
        report.pixelsChanged = after.pixels.size();
        out.assign(old.begin(), old.begin() + kCelHeaderSize);
        StoreU16(out.data() + 2, static_cast<std::uint16_t>(after.width));
        StoreU16(out.data() + 4, static_cast<std::uint16_t>(after.height));
        StoreU32(out.data() + 12, static_cast<std::uint32_t>(after.pixels.size()));
        out.resize(kCelPixelOffset + after.pixels.size());
    }
    std::copy(block.begin(), block.end(), out.begin() + kStillArtBlockOffset);
    std::copy(after.pixels.begin(), after.pixels.end(), out.begin() + kCelPixelOffset);
    return out;
}

std::vector<ColorValue> PaletteOfImage(const DecodedImage& image)
{
    if (image.PixelCount() != kPaletteEntries) {
        throw Error(ErrorKind::Unsupported,
                    "an image gives a palette with 256 pixels, this one has " +
                        std::to_string(image.PixelCount()));
    }
    std::vector<ColorValue> colors(kPaletteEntries);
    for (std::size_t i = 0; i < kPaletteEntries; ++i) {
        colors[i] = image.ColorAt(i);
    }
    return colors;
}

ByteArray BuildPaletteFile(std::span<const std::uint8_t> old, std::span<const ColorValue> colors,
                           const ReplacementOptions& options, ReplacementReport& report)
{
    report = ReplacementReport{};
    if (colors.size() != kPaletteEntries) {
        throw Error(ErrorKind::Unsupported, "PALETTE.PAL holds 256 colours, the palette given " +
                                                std::to_string(colors.size()));
    }
    ByteArray out(old.begin(), old.end());
    out.resize(std::max(out.size(), kPaletteBlockSize));
    const PaletteBlock oldBlock = BlockAt(out, 0);
    const PaletteBlock block =
        ToVgaLevels(colors, &oldBlock, options.mapping.quantize, report.gridAdjusted);
    for (std::size_t i = 0; i < kPaletteEntries; ++i) {
        report.colorsChanged +=
            !std::equal(block.begin() + 3 * i, block.begin() + 3 * i + 3, oldBlock.begin() + 3 * i)
                ? 1
                : 0;
    }
    std::copy(block.begin(), block.end(), out.begin());
    return out;
}

ByteArray BuildAnimationFile(std::span<const std::uint8_t> old,
                             std::span<const DecodedFrame> pictures, bool fromGif,
                             const ReplacementOptions& options, ReplacementReport& report)
{
    report = ReplacementReport{};
    if (pictures.empty()) {
        throw Error(ErrorKind::NotFound, "an animation needs at least one picture");
    }
    std::vector<Picture> oldPictures;
    const FliLoad load = StreamFLIFile(old, [&](const StreamedPicture& picture) {
        oldPictures.push_back(PictureOf(picture.record));
    });
    if (!load.complete() || oldPictures.empty()) {
        throw Error(ErrorKind::Unsupported,
                    "the animation replaced does not decode whole, so its timing cannot be kept" +
                        (load.stop ? ": " + load.stop->detail() : std::string()));
    }
    const std::int32_t width = pictures.front().image.width;
    const std::int32_t height = pictures.front().image.height;
    if (width < 1 || height < 1 || width > kMaxFrameSide || height > kMaxFrameSide) {
        throw Error(ErrorKind::Unsupported, "an animation's pictures are 1 to 4096 pixels a side");
    }
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        if (pictures[i].image.width != width || pictures[i].image.height != height) {
            throw Error(ErrorKind::Unsupported,
                        "picture " + std::to_string(i + 1) + " is " +
                            SizeText(pictures[i].image.width, pictures[i].image.height) +
                            ", the first " + SizeText(width, height));
        }
    }
    const bool flc =
        width != kFliWidth || height != kFliHeight || load.header.kind == FlicKind::Flc;
    const std::size_t oldCount = load.pictures.size();
    const auto fileFrames = static_cast<std::size_t>(load.fileFrames);

    // Each picture written and how many file frames it stands for.
    struct Step {
        std::size_t picture = 0;
        std::size_t frames = 1;
        std::uint16_t delay = 0;  // FLC milliseconds, 0 for the file's speed
    };
    std::vector<Step> steps;
    bool keptTiming = true;
    // A GIF holds pictures, never file frames, whatever the export's timeline.
    const bool timeline = options.timeline && !fromGif;
    if (!timeline && pictures.size() == oldCount) {
        for (std::size_t i = 0; i < oldCount; ++i) {
            steps.push_back({i, static_cast<std::size_t>(load.pictures[i].frameCount)});
        }
    } else if (timeline && pictures.size() == fileFrames) {
        std::set<std::size_t> starts;
        for (const PictureFrames& frames : load.pictures) {
            starts.insert(static_cast<std::size_t>(frames.firstFrame) - 1);
        }
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            if (i == 0 || starts.count(i) != 0 || !(pictures[i].image == pictures[i - 1].image)) {
                steps.push_back({i, 1});
            } else {
                ++steps.back().frames;
            }
        }
    } else {
        keptTiming = false;
        const FrameDuration frame = load.header.frameDuration;
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            Step step{i, 1};
            if (fromGif && frame.count() > 0) {
                const std::int64_t delay = pictures[i].delayCentiseconds;
                if (flc) {
                    step.delay =
                        static_cast<std::uint16_t>(std::clamp<std::int64_t>(delay * 10, 0, 65535));
                } else {
                    const double ticks = static_cast<double>(delay) * 70.0 /
                                         static_cast<double>(frame.count() / kFliTick.count());
                    step.frames =
                        static_cast<std::size_t>(std::max<long long>(1, std::llround(ticks)));
                }
            }
            steps.push_back(step);
        }
    }
    // FLC frames keep their own delays where the file frames keep their places.
    std::vector<std::uint16_t> oldDelays;
    if (flc && keptTiming && load.header.kind == FlicKind::Flc) {
        const ByteReader reader(old, "the animation");
        for (const FliFramePlace& place : ListFLIFrames(old).frames) {
            oldDelays.push_back(reader.U16(place.offset + kFlcFrameDelayOffset));
        }
    }

    // Each picture's pixels and colours.
    std::vector<IndexedImage> images;
    std::vector<PaletteBlock> blocks;
    std::vector<bool> unchanged(steps.size(), false);  // shows what its counterpart showed
    PaletteBlock previous{};
    for (std::size_t s = 0; s < steps.size(); ++s) {
        const DecodedImage& image = pictures[steps[s].picture].image;
        const Picture& counterpart = oldPictures[std::min(s, oldPictures.size() - 1)];
        IndexedImage pixels;
        std::vector<ColorValue> colors;
        if (image.indexed()) {
            pixels.width = image.width;
            pixels.height = image.height;
            pixels.pixels = image.indices;
            colors = image.colors;
            if (fromGif) {
                KeepShownIndices(oldPictures[std::min(s, oldPictures.size() - 1)], colors, pixels);
            }
        } else {
            MappingReport mapping;
            pixels = MapToPalette(image, counterpart.palette, options.mapping, mapping);
            AddMapping(report.mapping, mapping);
            colors.assign(counterpart.palette.Colors.begin(), counterpart.palette.Colors.end());
        }
        PaletteBlock block = previous;
        if (flc) {
            for (std::size_t i = 0; i < colors.size(); ++i) {
                block[3 * i] = RedOf(colors[i]);
                block[3 * i + 1] = GreenOf(colors[i]);
                block[3 * i + 2] = BlueOf(colors[i]);
            }
        } else {
            std::size_t adjusted = 0;
            block = ToVgaLevels(colors, s == 0 ? nullptr : &previous, options.mapping.quantize,
                                adjusted);
            report.gridAdjusted += adjusted;
        }
        if (s < oldPictures.size()) {
            const Picture& before = oldPictures[s];
            const std::size_t changedBefore = report.pixelsChanged + report.colorsChanged;
            if (before.image.width == pixels.width && before.image.height == pixels.height) {
                report.pixelsChanged += CountDifferent(before.image.pixels, pixels.pixels);
            } else {
                report.pixelsChanged += pixels.pixels.size() + 1;
            }
            for (std::size_t i = 0; i < kPaletteEntries; ++i) {
                const ColorValue shown =
                    flc ? MakeColor(block[3 * i], block[3 * i + 1], block[3 * i + 2])
                        : VgaColor(block[3 * i], block[3 * i + 1], block[3 * i + 2]);
                report.colorsChanged += shown != before.palette[i] ? 1 : 0;
            }
            unchanged[s] = report.pixelsChanged + report.colorsChanged == changedBefore;
        } else {
            report.pixelsChanged += pixels.pixels.size();
        }
        previous = block;
        images.push_back(std::move(pixels));
        blocks.push_back(block);
    }
    if (width != oldPictures.front().image.width || height != oldPictures.front().image.height) {
        report.sizeBefore =
            SizeText(oldPictures.front().image.width, oldPictures.front().image.height);
        report.sizeAfter = SizeText(width, height);
    }
    oldPictures = {};  // compared; only the old bytes are needed from here
    report.picturesBefore = oldCount;
    report.picturesAfter = steps.size();
    report.framesBefore = fileFrames;
    for (const Step& step : steps) {
        report.framesAfter += step.frames;
    }
    if (report.framesAfter > 65535) {
        throw Error(ErrorKind::TooLarge, "an animation file holds at most 65535 frames");
    }

    // A picture that shows what its counterpart showed, after one that does too, is
    // made by the same file frames as before: those are kept as they are, so an
    // unchanged import gives the same chunks and an edit re-encodes only the
    // frames it touches.
    const FliLayout layout = ListFLIFrames(old);
    bool aligned = keptTiming && steps.size() == oldCount && layout.frames.size() == fileFrames;
    for (std::size_t s = 0; aligned && s < steps.size(); ++s) {
        aligned = steps[s].frames == static_cast<std::size_t>(load.pictures[s].frameCount);
    }
    auto keptFrame = [&](const FliFramePlace& place) {
        FliFrameData frame;
        const std::int64_t end = place.offset + place.size;
        for (const FliChunkPlace& chunk : place.chunks) {
            const std::int64_t size = std::min<std::int64_t>(chunk.size, end - chunk.offset);
            const ByteSpan payload =
                ByteReader(old, "the animation")
                    .Slice(chunk.offset + kFliChunkHeaderSize, size - kFliChunkHeaderSize);
            frame.chunks.push_back({chunk.type, ByteArray(payload.begin(), payload.end())});
        }
        frame.delay = ByteReader(old, "the animation").U16(place.offset + kFlcFrameDelayOffset);
        return frame;
    };
    auto reusable = [&](std::size_t s) {
        return aligned && unchanged[s] && (s == 0 || unchanged[s - 1]);
    };

    std::vector<FlcAnimationFrame> flcFrames(flc ? steps.size() : 0);
    std::vector<AnimationFrame> fliFrames(flc ? 0 : steps.size());
    for (std::size_t s = 0; s < steps.size(); ++s) {
        if (flc) {
            flcFrames[s].picture = std::move(images[s]);
            flcFrames[s].colors = blocks[s];
            flcFrames[s].delay = steps[s].delay;
        } else {
            std::copy(images[s].pixels.begin(), images[s].pixels.end(),
                      fliFrames[s].pixels.begin());
            fliFrames[s].colors = blocks[s];
            images[s] = {};
        }
    }
    auto encodeFirst = [&]() {
        return flc ? EncodeFlcAnimation(std::span(flcFrames.data(), 1))[0]
                   : EncodeAnimation(std::span(fliFrames.data(), 1))[0];
    };
    // The frame that turns picture from into picture to.
    auto encodeAfter = [&](std::size_t from, std::size_t to) {
        if (flc) {
            return EncodeFlcFrame(flcFrames[from], flcFrames[to]);
        }
        const AnimationFrame pair[2] = {fliFrames[from], fliFrames[to]};
        return EncodeAnimation(pair)[1];
    };
    std::vector<FliFrameData> fileFramesOut;
    for (std::size_t s = 0; s < steps.size(); ++s) {
        if (reusable(s)) {
            const auto first = static_cast<std::size_t>(load.pictures[s].firstFrame) - 1;
            for (std::size_t k = first; k < first + steps[s].frames; ++k) {
                fileFramesOut.push_back(keptFrame(layout.frames[k]));
            }
            continue;
        }
        fileFramesOut.push_back(s == 0 ? encodeFirst() : encodeAfter(s - 1, s));
        for (std::size_t extra = 1; extra < steps[s].frames; ++extra) {
            fileFramesOut.push_back(FliFrameData{});
        }
    }
    if (!oldDelays.empty() && oldDelays.size() == fileFramesOut.size()) {
        for (std::size_t i = 0; i < fileFramesOut.size(); ++i) {
            fileFramesOut[i].delay = oldDelays[i];
        }
    }
    // The ring frame turns the last picture back into the first, at the file's
    // speed; written where the file replaced has one.
    std::optional<FliFrameData> ring;
    if (!layout.ring) {
    } else if (aligned && unchanged.front() && unchanged.back()) {
        ring = keptFrame(*layout.ring);
    } else {
        ring = encodeAfter(steps.size() - 1, 0);
        ring->delay = 0;
    }
    const ByteReader reader(old, "the animation");
    if (!flc) {
        return WriteFLIFile(fileFramesOut, reader.U16(kFliSpeedOffset), ring ? &*ring : nullptr);
    }
    FlcHeader header;
    header.width = static_cast<std::uint16_t>(width);
    header.height = static_cast<std::uint16_t>(height);
    header.speed = load.header.kind == FlicKind::Flc
                       ? reader.U32(kFliSpeedOffset)
                       : static_cast<std::uint32_t>(
                             (load.header.frameDuration + kFlcMillisecond / 2) / kFlcMillisecond);
    return WriteFLCFile(header, fileFramesOut, ring ? &*ring : nullptr);
}

namespace {

ByteArray ReadImageInput(const std::filesystem::path& path)
{
    return ReadFileBytes(path, kMaxFliFileBytes);
}

}  // namespace

ByteArray BuildReplacement(const GameFolder& game, const Replacement& replacement,
                           std::span<const std::uint8_t> old, const ReplacementOptions& options,
                           ReplacementReport& report)
{
    switch (replacement.kind) {
        case ReplacementKind::Wall: {
            const WallPalette palette = game.LoadWallPalette();
            if (!palette.complete()) {
                throw Error(ErrorKind::Unsupported,
                            "PALETTE.PAL does not hold 256 colours to map the wall to");
            }
            const ByteArray bytes = ReadImageInput(replacement.inputs.front());
            return BuildWallFile(old, ReadImageFile(bytes), palette.palette, options, report);
        }
        case ReplacementKind::Still: {
            const ByteArray bytes = ReadImageInput(replacement.inputs.front());
            return BuildStillFile(old, ReadImageFile(bytes), options, report);
        }
        case ReplacementKind::Palette: {
            const std::filesystem::path& input = replacement.inputs.front();
            const ByteArray bytes = ReadImageInput(input);
            const std::string name = LowerAscii(input.filename().string());
            const std::vector<ColorValue> colors =
                name.ends_with(".png") ? PaletteOfImage(ReadImageFile(bytes))
                                       : ReadPaletteFile(bytes, PaletteFileFormatOf(name));
            return BuildPaletteFile(old, colors, options, report);
        }
        case ReplacementKind::Animated: {
            std::vector<DecodedFrame> pictures;
            if (!replacement.sequence) {
                pictures = ReadGifAnimation(ReadImageInput(replacement.inputs.front()));
            } else {
                for (const std::filesystem::path& input : replacement.inputs) {
                    try {
                        pictures.push_back({ReadImageFile(ReadImageInput(input)), 0});
                    } catch (const Error& error) {
                        throw Error(error.kind(),
                                    input.filename().string() + ": " + error.detail());
                    }
                }
            }
            return BuildAnimationFile(old, pictures, !replacement.sequence, options, report);
        }
    }
    return {};
}

}  // namespace varek
