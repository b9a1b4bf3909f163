#include "CatalogueFixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include "catalogue/AdoDatabase.h"
#include "catalogue/DataFiles.h"

bool MakeKeyedDatabase(const QString& appDir, const QString& key, const QString& sql)
{
    QDir().mkpath(appDir + QStringLiteral("Data"));
    const QString path = appDir + QStringLiteral("Data/data.mdb");
    QFile::remove(path);
    QProcess shell;
    shell.start(QStringLiteral("sqlcipher"), { path });
    if (!shell.waitForStarted(5000))
        return false;
    shell.write((QStringLiteral("PRAGMA key='%1';\n").arg(key) + sql + QStringLiteral("\n.quit\n")).toUtf8());
    shell.closeWriteChannel();
    return shell.waitForFinished(20000) && shell.exitCode() == 0 && shell.readAllStandardError().isEmpty();
}

bool WriteNumberedTypesAndVideos(const QString& appDir, const std::vector<int>& offsets)
{
    std::vector<TypeRecord> types;
    for (int i = 0; i < 12; ++i)
        types.push_back({ i + 1, QStringLiteral("类型%1").arg(i + 1) });
    std::vector<VideoRecord> videos;
    for (int i = 0; i < 25; ++i)
        videos.push_back({ 500 + i, QStringLiteral("视频%1").arg(i), 0,
                           offsets.empty() ? 0 : offsets[static_cast<std::size_t>(i) % offsets.size()] });
    QDir().mkpath(appDir + QStringLiteral("Data"));
    QFile typeFile(appDir + QStringLiteral("Data/date.dat")), videoFile(appDir + QStringLiteral("Data/Data3.dat"));
    return typeFile.open(QIODevice::WriteOnly) && typeFile.write(EncodeTypeFile(types)) >= 0
        && videoFile.open(QIODevice::WriteOnly) && videoFile.write(EncodeVideoFile(videos)) >= 0;
}

QString SampleCatalogueSql()
{
    return QStringLiteral(
        "CREATE TABLE tb_videogroup_list (id INTEGER, videoname TEXT, extra TEXT);"
        "INSERT INTO tb_videogroup_list VALUES (7, '七', 'x'), (8, NULL, 'y'), (9, '九', 'z'), (0, '零', '');"
        "CREATE TABLE tb_video_addr_list (id INTEGER, videoid INTEGER, name TEXT, url TEXT, rate REAL, "
        "  small SINGLE, pic BLOB);"
        "INSERT INTO tb_video_addr_list VALUES (30, 7, '第3集', 'http://x/3', 0.1, 0.1, x'00');"
        "INSERT INTO tb_video_addr_list VALUES (10, 7, '第1集', 'http://x/1', 2.5, 2.5, NULL);"
        "INSERT INTO tb_video_addr_list VALUES (20, 7, NULL, NULL, NULL, NULL, NULL);"
        "INSERT INTO tb_video_addr_list VALUES (40, 0, 'zero', 'http://x/0', 1e300, 1, NULL);"
        "CREATE TABLE tb_star_list (starid INTEGER, starname TEXT, pos INTEGER);"
        "INSERT INTO tb_star_list VALUES (1, '甲', 3), (2, '乙', 1), (3, NULL, 2), (NULL, '丁', 4);"
        "CREATE TABLE tb_star_video_list (starid INTEGER, videoid INTEGER);"
        "INSERT INTO tb_star_video_list VALUES (1, 9), (1, 7), (2, 8);");
}

bool MakeEmptyCatalogue(const QString& appDir)
{
    QDir().mkpath(appDir + QStringLiteral("Data"));
    QFile types(appDir + QStringLiteral("Data/date.dat"));
    if (!types.open(QIODevice::WriteOnly) || types.write(EncodeTypeFile({ { 1, QStringLiteral("类型") } })) < 0)
        return false;
    types.close();
    return MakeKeyedDatabase(appDir, QString::fromLatin1(kCataloguePassword),
                             QStringLiteral("CREATE TABLE tb_videogroup_list (id INTEGER);"
                                            "CREATE TABLE tb_video_addr_list (id INTEGER);"
                                            "CREATE TABLE tb_star_list (starid INTEGER);"
                                            "CREATE TABLE tb_star_video_list (starid INTEGER);"));
}
