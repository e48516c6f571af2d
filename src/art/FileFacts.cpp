// What a file browser shows of a game file: its first picture and its facts.
#include "art/FileFacts.h"

#include <chrono>
#include <optional>

#include "art/ArtFiles.h"
#include "art/GameFolder.h"
#include "fli/FliLayout.h"
#include "util/ByteReader.h"
#include "util/Text.h"

namespace varek {

namespace {

std::string Bytes(std::uint64_t count)
{
    return Counted(count, "byte", "bytes");
}

std::string Size(std::int64_t width, std::int64_t height)
{
    return std::to_string(width) + " \u00d7 " + std::to_string(height);
}

std::string ChunkName(std::int16_t type)
{
    switch (type) {
        case FLI_COLOR:
            return "colours";
        case FLI_LC:
            return "line compression";
        case FLI_BLACK:
            return "black";
        case FLI_BRUN:
            return "byte run";
        case FLI_COPY:
            return "uncompressed";
        default:
            return "unknown, skipped";
    }
}

FactRow FrameRow(const std::string& label, const FliFramePlace& frame)
{
    FactRow row{label,
                "offset " + std::to_string(frame.offset) + ", " + Bytes(frame.size) + ", " +
                    Counted(frame.chunks.size(), "chunk", "chunks"),
                {}};
    for (const FliChunkPlace& chunk : frame.chunks) {
        row.rows.push_back({"Chunk type " + std::to_string(chunk.type),
                            ChunkName(chunk.type) + ", " + Bytes(chunk.size) + " at offset " +
                                std::to_string(chunk.offset),
                            {}});
    }
    return row;
}

// The header's speed field as the file gives it, and the duration it plays at.
std::string SpeedText(const FlicHeader& header, std::span<const std::uint8_t> bytes)
{
    const ByteReader reader(bytes, "the FLI file");
    const std::string time =
        std::to_string(
            std::chrono::round<std::chrono::milliseconds>(header.frameDuration).count()) +
        " ms";
    if (header.kind == FlicKind::Flc) {
        const std::uint32_t milliseconds = reader.U32(kFliSpeedOffset);
        return milliseconds == 0 ? "0, played as 1/70 s (" + time + ") a frame"
                                 : std::to_string(milliseconds) + " ms a frame";
    }
    const std::uint16_t speed = reader.U16(kFliSpeedOffset);
    const std::int64_t ticks = header.frameDuration / kFliTick;
    if (speed == 0) {
        return "0, played as " + std::to_string(ticks) + "/70 s (" + time + ") a frame";
    }
    return std::to_string(speed) + "/70 s (" + time + ") a frame";
}

void DescribeWall(const SourceFile& file, FileFacts& facts)
{
    const std::uint64_t size = file.Size();
    if (size < kWallBytes) {
        facts.rows.push_back(
            {"Fault", "the file holds " + Bytes(size) + ", a wall needs 4096", {}});
        return;
    }
    facts.rows.push_back({"Picture", Size(kWallSize, kWallSize) + ", bytes 0 to 4095", {}});
    facts.rows.push_back({"Colours", "PALETTE.PAL, shared by every wall and sprite", {}});
    facts.rows.push_back({"Beyond the pixels",
                          size > kWallBytes ? Bytes(size - kWallBytes) + ", not shown" : "nothing",
                          {}});
}

void DescribeStill(const SourceFile& file, FileFacts& facts)
{
    const std::uint64_t size = file.Size();
    const CelHeader header = ReadCelHeader(file.ReadStart(kCelHeaderSize));
    const std::int64_t pixels = std::int64_t{header.width} * header.height;
    std::string headerText = "32 bytes: " + Size(header.width, header.height) + ", pixel count " +
                             std::to_string(header.pixelCount);
    facts.rows.push_back({"Header", headerText, {}});
    facts.rows.push_back({"Colours", "its own, 768 bytes at offset 32, 6 bits a component", {}});
    const auto used = static_cast<std::uint64_t>(CelFileBytesUsed(header));
    facts.rows.push_back(
        {"Picture",
         Size(header.width, header.height) + ", " + Bytes(pixels) + " at offset 800",
         {}});
    std::string beyond = "nothing";
    if (size > used) {
        beyond = Bytes(size - used) + ", not shown";
    } else if (size < used) {
        beyond = "none: the file is " + Bytes(used - size) + " short of its pixels";
    }
    if (header.pixelCount > pixels) {
        beyond += "; the pixel count claims " + std::to_string(header.pixelCount - pixels) +
                  " more than the picture has";
    }
    facts.rows.push_back({"Beyond the pixels", beyond, {}});
}

void DescribeAnimation(std::span<const std::uint8_t> bytes, FileFacts& facts)
{
    const FliLayout layout = ListFLIFrames(bytes);
    std::vector<bool> colorsChanged;
    Palette previous;
    const FliLoad load = StreamFLIFile(bytes, [&](const StreamedPicture& picture) {
        colorsChanged.push_back(picture.record.Colors != previous);
        previous = picture.record.Colors;
    });
    facts.rows.push_back(
        {"Frame count", std::to_string(load.fileFrames) + ", the ring frame not counted", {}});
    if (bytes.size() >= static_cast<std::size_t>(kFliHeaderSize)) {
        facts.rows.push_back({"Frame size",
                              std::to_string(load.header.width) + " x " +
                                  std::to_string(load.header.height) +
                                  (load.header.kind == FlicKind::Flc ? ", FLC" : ", FLI"),
                              {}});
        facts.rows.push_back({"Speed", SpeedText(load.header, bytes), {}});
    }
    facts.rows.push_back(layout.ring ? FrameRow("Ring frame", *layout.ring)
                                     : FactRow{"Ring frame", "none", {}});

    FactRow pictures{"Pictures", std::to_string(load.pictures.size()), {}};
    for (std::size_t i = 0; i < load.pictures.size() && i < kMaxListedPictures; ++i) {
        const PictureFrames& frames = load.pictures[i];
        const std::int32_t last = frames.firstFrame + frames.frameCount - 1;
        FactRow picture{
            "Picture " + std::to_string(i + 1),
            (frames.frameCount == 1 ? "file frame " + std::to_string(frames.firstFrame)
                                    : "file frames " + std::to_string(frames.firstFrame) + " to " +
                                          std::to_string(last)) +
                (i < colorsChanged.size() && colorsChanged[i] ? ", colours changed"
                                                              : ", same colours"),
            {}};
        for (std::int32_t frame = frames.firstFrame; frame <= last; ++frame) {
            if (static_cast<std::size_t>(frame) <= layout.frames.size()) {
                picture.rows.push_back(
                    FrameRow("Frame " + std::to_string(frame),
                             layout.frames[static_cast<std::size_t>(frame - 1)]));
            }
        }
        pictures.rows.push_back(std::move(picture));
    }
    if (load.pictures.size() > kMaxListedPictures) {
        pictures.rows.push_back(
            {"\u2026", std::to_string(load.pictures.size() - kMaxListedPictures) + " more", {}});
    }
    facts.rows.push_back(std::move(pictures));

    FactRow faults{"Line-compression faults", std::to_string(load.lineFaults.size()), {}};
    for (std::size_t i = 0; i < load.lineFaults.size(); ++i) {
        faults.rows.push_back({std::to_string(i + 1), load.lineFaults[i].what(), {}});
    }
    facts.rows.push_back(std::move(faults));
    facts.rows.push_back(
        {"Read to its end", load.stop ? "no: " + std::string(load.stop->what()) : "yes", {}});
}

const FactRow* FindIn(const std::vector<FactRow>& rows, const std::string& label)
{
    for (const FactRow& row : rows) {
        if (row.label == label) {
            return &row;
        }
        if (const FactRow* found = FindIn(row.rows, label)) {
            return found;
        }
    }
    return nullptr;
}

}  // namespace

const FactRow* FileFacts::Find(const std::string& label) const
{
    return FindIn(rows, label);
}

Picture GameFolder::LoadFirstPicture(ArtCategory category, const std::string& name,
                                     const Palette& wallPalette) const
{
    switch (category) {
        case ArtCategory::WallsSprites:
            return LoadWall(name, wallPalette, true);
        case ArtCategory::OtherArt:
            return LoadStill(name);
        case ArtCategory::Animated:
            break;
    }
    std::optional<Picture> first;
    // The walk stops after the frame in which the first picture was handed on.
    const Animation load = StreamAnimation(
        name,
        [&](const StreamedPicture& picture) {
            if (!first) {
                first = PictureOf(picture.record);
            }
        },
        [&](std::int32_t, std::int32_t) { return !first; });
    if (first) {
        return std::move(*first);
    }
    if (load.stop) {
        throw *load.stop;
    }
    throw Error(ErrorKind::Corrupt, "the animation holds no pictures");
}

FileFacts GameFolder::DescribeFile(ArtCategory category, const std::string& name) const
{
    FileFacts facts;
    try {
        const std::unique_ptr<SourceFile> file = m_source->Open(FileName(category, name));
        facts.rows.push_back({"File size", Bytes(file->Size()), {}});
        switch (category) {
            case ArtCategory::WallsSprites:
                DescribeWall(*file, facts);
                break;
            case ArtCategory::OtherArt:
                // The later still pictures are FLC files, shown by their first frame.
                if (IsFlcStill(file->ReadStart(kCelPixelOffset))) {
                    DescribeAnimation(ReadFLIBytes(*file).bytes(), facts);
                } else {
                    DescribeStill(*file, facts);
                }
                break;
            case ArtCategory::Animated:
                if (file->Size() > kMaxFliFileBytes) {
                    throw Error(ErrorKind::TooLarge, "the file is larger than an animation may be");
                }
                DescribeAnimation(file->ReadAll().bytes(), facts);
                break;
        }
    } catch (const Error& error) {
        facts.rows.push_back({"Fault", error.what(), {}});
    }
    return facts;
}

}  // namespace varek
