// A small FAT32 or exFAT file system, as a memory stick has it, made in an
// image file and mounted through FUSE (fusefat; exfat-fuse on a loop
// device) for as long as the object lives. mounted() is false, and why()
// says why, where the tools or the rights are missing.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

class StickImage {
public:
    StickImage(const QString& image, const QString& folder, const QString& kind) : folder_(folder) {
        const bool fat = kind == "fat";
        for (const char* tool : {fat ? "mkfs.vfat" : "mkfs.exfat", fat ? "fusefat" : "mount.exfat-fuse", "losetup"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                why_ = QString(tool) + " is not installed (packages dosfstools fusefat exfatprogs exfat-fuse)";
        QFile file(image);
        if (!why_.isEmpty() || !QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly) || !file.resize(64 << 20))
            { fail("cannot make the image"); return; }
        file.close();
        if (QProcess::execute(fat ? "mkfs.vfat" : "mkfs.exfat", fat ? QStringList{"-F", "32", image} : QStringList{image}) != 0)
            { fail("mkfs failed"); return; }
        QString device = image;
        if (!fat) {
            QProcess losetup;
            losetup.start("losetup", {"-f", "--show", image});
            if (!losetup.waitForFinished() || losetup.exitCode() != 0)
                { fail("no loop device (needs root)"); return; }
            device = loop_ = QString::fromUtf8(losetup.readAllStandardOutput()).trimmed();
        }
        QProcess mount;
        mount.setProcessChannelMode(QProcess::MergedChannels);
        mount.start(fat ? "fusefat" : "mount.exfat-fuse", fat ? QStringList{"-o", "rw+", device, folder}
                                                               : QStringList{device, folder});
        mounted_ = mount.waitForFinished() && mount.exitCode() == 0;
        if (!mounted_)
            fail("FUSE mount failed (needs /dev/fuse and root): " + mount.readAll().trimmed());
    }
    ~StickImage() {
        if (mounted_)
            QProcess::execute("umount", {folder_});
        if (!loop_.isEmpty())
            QProcess::execute("losetup", {"-d", loop_});
    }
    StickImage(const StickImage&) = delete;
    StickImage& operator=(const StickImage&) = delete;

    bool mounted() const { return mounted_; }
    const QString& why() const { return why_; }

private:
    void fail(const QString& why) {
        if (why_.isEmpty())
            why_ = why;
    }
    QString folder_;
    QString loop_;
    QString why_;
    bool mounted_ = false;
};
