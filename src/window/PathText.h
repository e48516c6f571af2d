#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <filesystem>
#include <string>

namespace varek {

// Names from the file system shown as text, and text the user gave as paths: in
// the file system's own encoding, paths with the platform's separators.

inline QString ToQString(const std::string& text)
{
    return QFile::decodeName(QByteArray::fromStdString(text));
}

inline QString ToQString(const std::filesystem::path& path)
{
    return QDir::toNativeSeparators(ToQString(path.string()));
}

inline std::filesystem::path ToPath(const QString& text)
{
    return std::filesystem::path(QFile::encodeName(QDir::fromNativeSeparators(text)).toStdString());
}

}  // namespace varek
