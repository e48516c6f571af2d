// The WebP writers of a build without libwebp: every call says so.
#include "imaging/WebpImage.h"
#include "util/Error.h"

namespace varek {

namespace {

[[noreturn]] void Refuse()
{
    throw Error(ErrorKind::Unsupported, "this build of Varek writes no WebP files");
}

}  // namespace

bool WebpSupported() noexcept
{
    return false;
}

struct WebpWriter::State {};

WebpWriter::WebpWriter(std::int32_t, std::int32_t)
{
    Refuse();
}
WebpWriter::~WebpWriter() = default;
WebpWriter::WebpWriter(WebpWriter&&) noexcept = default;
WebpWriter& WebpWriter::operator=(WebpWriter&&) noexcept = default;
void WebpWriter::AddPicture(std::span<const std::uint8_t>, const Palette&, PictureTime)
{
    Refuse();
}
ByteArray WebpWriter::Finish()
{
    Refuse();
}
void WebpWriter::Finish(const std::function<void(std::span<const std::uint8_t>)>&)
{
    Refuse();
}

ByteArray EncodeWebpImage(std::int32_t, std::int32_t, std::span<const std::uint8_t>, const Palette&)
{
    Refuse();
}

}  // namespace varek
