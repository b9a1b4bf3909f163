#pragma once

#include <QString>

// INI files read and written the way the Windows profile functions do it: section and key names match without
// regard to case, blanks around names and values are dropped on read, the first matching section and key win,
// and writing one key keeps every other line of the file as it was. The file is UTF-8.
namespace ProfileFile
{

// The value of key in section, at most maxChars UTF-16 units; "" when the file, section or key is absent.
QString ReadString(const QString& path, const QString& section, const QString& key, int maxChars);

// Writes key=value into section, creating the file and the section on demand. The new file replaces the old
// one atomically (temporary file in the same folder, flushed to disk, renamed), so a crash leaves either the
// old or the new file and never a torn one. Returns false when the file could not be written.
bool WriteString(const QString& path, const QString& section, const QString& key, const QString& value);

// Writes bytes to path atomically, as above; creates the parent folder when missing.
// Removes a folder of the program's own (a staging or rollback folder). A link planted in its place is removed
// itself; neither it nor a link inside the folder is ever followed.
void RemoveTree(const QString& path);
// On failure errno says why, and the old file is untouched.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes);

} // namespace ProfileFile
