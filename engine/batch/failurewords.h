#pragma once
// Why a file failed, in the batch's words: one line each, the cause first
// and then what to check ("not found", "no space left on the output disk:
// out/01.mp3", "work folder: check that ...").
#include "convert/conversion.h"

#include <QByteArray>
#include <QString>

// Why a source or a file the walk met cannot be opened, from the errno of
// the attempt.
QString OpenFailureReason(int err);

// The system's text for err, starting lower case to follow a colon.
QString ErrorText(int err);

// What to check when the work folder keeps a file from converting.
QString WorkFolderReason(const QString& folder);

// A failed stage of one file's conversion.
QString StageFailure(const StageResult& stage, const QString& workFolder);

// A result that could not be written to target for err.
QString SaveFailure(int err, const QByteArray& target);

// A result that could not be saved at target, for the reason problem.
QString CannotSave(const QByteArray& target, const QByteArray& problem);

// An output folder where no file can be made, for err.
QString CannotWrite(const QByteArray& folder, int err);
