#include <QButtonGroup>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <algorithm>
#include <fstream>
#include <optional>
#include <set>

#include "GameFixture.h"
#include "RecordingPrompts.h"
#include "WindowDriver.h"
#include "authoring/CelWriter.h"
#include "fli/FliWriter.h"
#include "imaging/BmpImage.h"
#include "support/ScratchFileSystem.h"
#include "window/MainWindow.h"
#include "window/PictureBox.h"

namespace fs = std::filesystem;
using namespace varek;
using namespace varek::test;

namespace {

// A window driven through its controls.
struct Window : WindowDriver {
    // Clicks "Save to BMP" and answers the dialog with path.
    void SaveAs(const std::string& path)
    {
        prompts.answers << QString::fromStdString(path);
        QTest::mouseClick(save, Qt::LeftButton);
    }
    QString LastMessage() const
    {
        return prompts.messages.empty() ? QString() : prompts.messages.back().text;
    }
};

void WriteBytes(const fs::path& file, const ByteArray& bytes)
{
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

std::set<std::string> Listing(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

ByteArray StripedWall(std::uint8_t first)
{
    ByteArray wall(kWallBytes);
    for (std::size_t i = 0; i < wall.size(); ++i) {
        wall[i] = static_cast<std::uint8_t>(first + i / 64 % 8);
    }
    return wall;
}

ByteArray WallBmp(const ByteArray& wall)
{
    return BuildBmpImage(BuildWallImage(wall, true), PaletteFromBlock(GameFixture::kPaletteBlock));
}

IndexedImage SmallStill()
{
    IndexedImage image{9, 5, ByteArray(45)};
    for (std::size_t i = 0; i < image.pixels.size(); ++i) {
        image.pixels[i] = static_cast<std::uint8_t>(30 + i);
    }
    return image;
}

}  // namespace

class TestSaveFaults : public QObject {
    Q_OBJECT

private slots:
    void failedSavesLoseNothing_data();
    void failedSavesLoseNothing();
    void keepsWorkingAfterEveryBadFile();
};

void TestSaveFaults::failedSavesLoseNothing_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("reasons");  // any one of them will do
    QTest::newRow("read-only folder, old file")
        << "read-only folder" << QStringList{"Read-only file system", "Permission denied"};
    QTest::newRow("read-only folder, new file")
        << "read-only folder, new" << QStringList{"Read-only file system", "Permission denied"};
    QTest::newRow("read-only file") << "read-only file" << QStringList{"the file is read-only"};
    QTest::newRow("disk full part-way") << "disk full" << QStringList{"No space left on device"};
    QTest::newRow("disk full, no room at all")
        << "disk full, no room" << QStringList{"No space left on device"};
    QTest::newRow("target is a folder") << "folder" << QStringList{"it is a folder"};
    QTest::newRow("folder missing") << "missing folder" << QStringList{"No such file or directory"};
    QTest::newRow("name longer than 255 bytes") << "long name" << QStringList{"File name too long"};
    QTest::newRow("name holding a NUL") << "nul" << QStringList{"no file name can hold"};
}

// Every failed save leaves the old file as it was and no other file behind, tells
// the user which file and why, and the next save in the same window works.
void TestSaveFaults::failedSavesLoseNothing()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, reasons);
    GameFixture game;
    const ByteArray wall = StripedWall(40);
    game.WriteWall("W.CEL", wall);
    TempFolder out;
    const ByteArray old(300, 0xAB);
    fs::path folder = out.path();
    fs::path target = out / "old.bmp";
    std::optional<ScratchFileSystem> scratch;
    if (fault.startsWith("read-only folder") || fault.startsWith("disk full")) {
        scratch.emplace(out / "scratch", 64 * 1024);
        folder = scratch->path();
        target = folder / "old.bmp";
    }
    std::string oldName = "old.bmp";
    if (fault == "read-only folder, new") {
        oldName = "other.bmp";
        target = folder / "new.bmp";
    }
    if (fault != "folder" && fault != "long name" && fault != "nul") {
        WriteBytes(folder / oldName, old);
    }
    if (fault.startsWith("read-only folder")) {
        const std::string problem = scratch->MakeReadOnly();
        if (!problem.empty()) {
            QSKIP(problem.c_str());
        }
    } else if (fault == "read-only file") {
        fs::permissions(target,
                        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    } else if (fault.startsWith("disk full")) {
        // The image needs two blocks: one free block makes the write fail part-way.
        const std::string problem = scratch->LeaveFree("filler", fault == "disk full" ? 4096 : 0);
        if (!problem.empty()) {
            QSKIP(problem.c_str());
        }
        QVERIFY(scratch->FreeBytes() < WallBmp(wall).size());
    } else if (fault == "folder") {
        target = out / "folder.bmp";
        fs::create_directory(target);
        out.Write("folder.bmp/inside", old);
    } else if (fault == "missing folder") {
        target = out / "gone" / "x.bmp";
    } else if (fault == "long name") {
        target = out / (std::string(300, 'n') + ".bmp");
    } else if (fault == "nul") {
        target = out / std::string("old.bmp\0.bmp", 12);
        out.Write("old.bmp", old);
    }
    const std::set<std::string> before = Listing(folder);

    Window session;
    QVERIFY(session.Start(game.root()));
    QVERIFY(session.prompts.messages.empty());
    session.SaveAs(target.string());

    QCOMPARE(session.prompts.messages.size(), std::size_t{1});
    const QString message = session.LastMessage();
    QVERIFY2(message.contains(QString::fromStdString(folder.string())), qPrintable(message));
    QVERIFY2(message.contains(fault == "nul" ? "old.bmp" : target.filename().c_str()),
             qPrintable(message));
    QVERIFY2(std::any_of(reasons.begin(), reasons.end(),
                         [&](const QString& reason) { return message.contains(reason); }),
             qPrintable(message));
    QCOMPARE(Listing(folder), before);
    if (before.contains(oldName)) {
        QVERIFY(ReadAll(folder / oldName) == old);
    }
    if (fault == "folder") {
        QVERIFY(ReadAll(target / "inside") == old);
    }
    QVERIFY(session.pic->HasPicture());

    // The same window saves the same picture where it can.
    session.SaveAs((out / "next.bmp").string());
    QCOMPARE(session.prompts.messages.size(), std::size_t{1});
    QVERIFY(ReadAll(out / "next.bmp") == WallBmp(wall));
}

// After each file that cannot be shown, and after a failed save, the next good
// file is shown and saved in the same window.
void TestSaveFaults::keepsWorkingAfterEveryBadFile()
{
    GameFixture game;
    const ByteArray wallB = StripedWall(50);
    const ByteArray wallD = StripedWall(70);
    game.WriteWall("A-SHORT.CEL", ByteArray(kWallBytes - 1, 5));
    game.WriteWall("B.CEL", wallB);
    game.WriteWall("C-GONE.CEL", StripedWall(90));
    game.WriteWall("D.CEL", wallD);
    ByteArray badHeader = EncodeCelImage(SmallStill(), TestBlock(2));
    StoreU16(badHeader.data() + 2, 0xFFFF);
    StoreU16(badHeader.data() + 4, 0xFFFF);
    game.Write("STILLCEL/S1-BAD.CEL", badHeader);
    game.WriteStill("S2.CEL", SmallStill(), TestBlock(3));
    ByteArray corrupt = WriteAnimation(NumberedFrames(2));
    StoreU32(corrupt.data() + 128, 5);  // the first frame's size, below its own header
    game.WriteAnimation("F1-CORRUPT.FLI", corrupt);
    game.WriteAnimation("F2.FLI", WriteAnimation(NumberedFrames(3)));
    TempFolder out;

    Window session;
    QVERIFY(session.Start(game.root()));
    auto& messages = session.prompts.messages;
    const auto newMessageNames = [&](std::size_t count, const char* name) {
        return messages.size() == count && messages.back().text.contains(name);
    };
    QVERIFY(newMessageNames(1, "A-SHORT.CEL"));
    QVERIFY(!session.pic->HasPicture());
    // Shown again unchanged, as Rotate does: the status bar keeps why, no new box.
    QTest::mouseClick(session.rotate, Qt::LeftButton);
    QTest::mouseClick(session.rotate, Qt::LeftButton);
    QCOMPARE(messages.size(), std::size_t{1});
    QVERIFY(session.window.findChild<QLabel*>("pictureInfo")->text().startsWith("A-SHORT.CEL: "));
    QTest::mouseClick(session.save, Qt::LeftButton);  // nothing to save: no dialog
    QVERIFY(newMessageNames(2, "Nothing was saved"));
    QVERIFY(session.prompts.requests.empty());
    session.ClickRow(1);
    session.SaveAs((out / "B.bmp").string());
    QVERIFY(ReadAll(out / "B.bmp") == WallBmp(wallB));

    fs::remove(game / "CELS3/C-GONE.CEL");
    session.ClickRow(2);
    QVERIFY(newMessageNames(3, "C-GONE.CEL"));
    QVERIFY(!session.pic->HasPicture());
    session.ClickRow(3);
    session.SaveAs((out / "D.bmp").string());
    QVERIFY(ReadAll(out / "D.bmp") == WallBmp(wallD));

    session.Press(1);
    QVERIFY(newMessageNames(4, "S1-BAD.CEL"));
    QVERIFY(!session.pic->HasPicture());
    session.ClickRow(1);
    session.SaveAs((out / "S2.bmp").string());
    QVERIFY(ReadAll(out / "S2.bmp") == BuildBmpImage(SmallStill(), PaletteFromBlock(TestBlock(3))));

    session.Press(2);
    QVERIFY(newMessageNames(5, "F1-CORRUPT.FLI"));
    QVERIFY(!session.pic->HasPicture());
    session.ClickRow(1);
    QTest::keyClick(session.hsb, Qt::Key_Right);
    fs::create_directory(out / "taken.bmp");
    session.SaveAs((out / "taken.bmp").string());
    QVERIFY(newMessageNames(6, "taken.bmp"));
    session.SaveAs((out / "F2-02.bmp").string());
    const FrameRecord& frame = session.window.Frames().at(2);
    QCOMPARE(frame.Pixels[0], std::uint8_t{12});
    QVERIFY(ReadAll(out / "F2-02.bmp") ==
            BuildBmpImage(FrameImage(frame), PaletteFromBlock(TestBlock(2))));

    session.Press(0);  // and back to the walls, with their own colours again
    session.ClickRow(1);
    session.SaveAs((out / "B-again.bmp").string());
    QVERIFY(ReadAll(out / "B-again.bmp") == WallBmp(wallB));
    QCOMPARE(messages.size(), std::size_t{7});  // A-SHORT.CEL shown first again
    QCOMPARE(Listing(out.path()), (std::set<std::string>{"B.bmp", "D.bmp", "S2.bmp", "taken.bmp",
                                                         "F2-02.bmp", "B-again.bmp"}));
}

int RunSaveFaultTests(int argc, char** argv)
{
    TestSaveFaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_SaveFaults.moc"
