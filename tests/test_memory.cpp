#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "common/Memory.h"

namespace
{

// The resident kB of the mapping that starts at address, from the process's own smaps.
long ResidentKb(const void* address)
{
    QFile smaps(QStringLiteral("/proc/self/smaps"));
    if (!smaps.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray start = QByteArray::number(reinterpret_cast<quintptr>(address), 16) + '-';
    bool inside = false;
    for (const QByteArray& line : smaps.readAll().split('\n')) {
        const QByteArray first = line.left(line.indexOf(' '));
        if (!first.endsWith(':')) // a mapping's line: "start-end perms offset device inode path"
            inside = line.startsWith(start);
        else if (inside && first == "Rss:")
            return line.mid(4).trimmed().split(' ').front().toLong();
    }
    return -1;
}

struct Mapped {
    char* data = nullptr;
    size_t size = 0;
    Mapped(const QString& path, int protection)
    {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
        size = static_cast<size_t>(::lseek(fd, 0, SEEK_END));
        void* p = ::mmap(nullptr, size, protection, MAP_PRIVATE, fd, 0);
        ::close(fd);
        data = p == MAP_FAILED ? nullptr : static_cast<char*>(p);
    }
    ~Mapped()
    {
        if (data)
            ::munmap(data, size);
    }
    void Touch() const
    {
        for (size_t i = 0; i < size; i += 4096)
            static_cast<void>(*static_cast<volatile const char*>(data + i));
    }
};

} // namespace

// The pages of a font file read through a read-only mapping go, and reading brings the file's bytes back; a mapping
// the process wrote to (its pages are its own, not the file's) and a mapping of another kind of file are left alone.
TEST(Memory, FontPagesGoAndComeBackWhole)
{
    QTemporaryDir dir;
    QByteArray content(512 * 1024, '\0');
    for (int i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7 + i / 4096);
    for (const char* name : { "face.ttc", "Written.TTF", "data.bin" }) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    }
    const Mapped font(dir.filePath(QStringLiteral("face.ttc")), PROT_READ);
    const Mapped written(dir.filePath(QStringLiteral("Written.TTF")), PROT_READ | PROT_WRITE);
    const Mapped other(dir.filePath(QStringLiteral("data.bin")), PROT_READ);
    ASSERT_TRUE(font.data && written.data && other.data);
    font.Touch();
    other.Touch();
    std::memset(written.data, 'x', written.size);
    ASSERT_EQ(ResidentKb(font.data), 512);

    EXPECT_GE(ReleaseFontPages(), 1);
    EXPECT_EQ(ResidentKb(font.data), 0);
    EXPECT_EQ(ResidentKb(other.data), 512);
    EXPECT_EQ(ResidentKb(written.data), 512);
    EXPECT_EQ(QByteArray(font.data, static_cast<int>(font.size)), content);
    EXPECT_EQ(QByteArray(written.data, static_cast<int>(written.size)), QByteArray(512 * 1024, 'x'));
}
