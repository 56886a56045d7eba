#pragma once
// File names as the reader takes them: on Windows the command line reaches
// it as UTF-8 and files are opened through wide calls, so a name below a
// non-ASCII profile or folder is the file Explorer shows; on POSIX a name is
// the bytes given.
#include <filesystem>
#include <string>
#include <type_traits>

#include <QByteArray>
#include <QFile>
#include <QString>

namespace records_names {

constexpr bool kWide = std::is_same_v<std::filesystem::path::value_type, wchar_t>;

inline std::filesystem::path FileName(const std::string &name)
{
	return std::filesystem::u8path(name);
}

inline QString QtName(const std::string &name)
{
	if constexpr (kWide)
		return QString::fromStdWString(FileName(name).wstring());
	else
		return QFile::decodeName(QByteArray::fromStdString(name));
}

inline std::string FromQtName(const QString &name)
{
	if constexpr (kWide)
		return std::filesystem::path(name.toStdWString()).u8string();
	else
		return QFile::encodeName(name).toStdString();
}

} // namespace records_names
