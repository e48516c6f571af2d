#include "fli/FliLayout.h"

#include <algorithm>
#include <string>

#include "fli/FliFormat.h"
#include "util/ByteReader.h"

namespace varek {

namespace {

// The frame at position and its chunks; nullopt when no frame header lies there.
std::optional<FliFramePlace> ReadFrame(const ByteReader& file, std::int64_t position)
{
    const auto fileSize = static_cast<std::int64_t>(file.size());
    if (position + kFliFrameHeaderSize > fileSize ||
        file.U16(position + kFliFrameMagicOffset) != kFliFrameMagic) {
        return std::nullopt;
    }
    FliFramePlace frame;
    frame.offset = position;
    frame.size = file.I32(position + kFliFrameSizeOffset);
    if (frame.size < kFliFrameHeaderSize) {
        throw Error(ErrorKind::Corrupt, "the frame at offset " + std::to_string(position) +
                                            " gives its size as " + std::to_string(frame.size));
    }
    const std::int64_t frameEnd = position + frame.size;
    const std::int16_t chunkCount = file.I16(position + kFliFrameChunkCountOffset);
    std::int64_t at = position + kFliFrameHeaderSize;
    for (std::int32_t i = 0; i < chunkCount; ++i) {
        if (at + kFliChunkHeaderSize > frameEnd) {
            break;
        }
        if (at + kFliChunkHeaderSize > fileSize) {
            throw Error(ErrorKind::Truncated, "the chunk at offset " + std::to_string(at) +
                                                  " runs past the end of the file");
        }
        FliChunkPlace chunk;
        chunk.offset = at;
        chunk.size = file.I32(at + kFliChunkSizeOffset);
        chunk.type = file.I16(at + kFliChunkTypeOffset);
        if (chunk.size < kFliChunkHeaderSize) {
            throw Error(ErrorKind::Corrupt, "the chunk at offset " + std::to_string(at) +
                                                " gives its size as " + std::to_string(chunk.size));
        }
        if (std::min(at + chunk.size, frameEnd) > fileSize) {
            throw Error(ErrorKind::Truncated, "the chunk at offset " + std::to_string(at) +
                                                  " runs past the end of the file");
        }
        frame.chunks.push_back(chunk);
        at += chunk.size;
    }
    return frame;
}

}  // namespace

FliLayout ListFLIFrames(std::span<const std::uint8_t> bytes)
{
    FliLayout layout;
    const ByteReader file(bytes, "the FLI file");
    try {
        if (bytes.size() < static_cast<std::size_t>(kFliHeaderSize)) {
            throw Error(ErrorKind::Truncated, "the file is shorter than an FLI header");
        }
        const std::int16_t frameCount = file.I16(kFliFrameCountOffset);
        std::int64_t position = kFliHeaderSize;
        for (std::int32_t i = 0; i < frameCount; ++i) {
            std::optional<FliFramePlace> frame = ReadFrame(file, position);
            if (!frame) {
                throw Error(ErrorKind::Corrupt, "no frame " + std::to_string(i + 1) +
                                                    " at offset " + std::to_string(position));
            }
            position += frame->size;
            layout.frames.push_back(std::move(*frame));
        }
        try {
            layout.ring = ReadFrame(file, position);
        } catch (const Error&) {
            // The ring frame is never decoded: a damaged one is no fault of the file.
        }
    } catch (const Error& error) {
        layout.stop = error;
    }
    return layout;
}

}  // namespace varek
