#pragma once

// The change lines between two versions of an MLT project, compared as models (QFMLTModel), never as XML:
// the project, the bin, then each sequence of the newer version (the sequence, its tracks, its clips by
// their new start with the transitions after the clip they follow, its compositions), then markers. Clips
// have no identity of their own: they are matched by what they show, then by order, so that an inserted
// clip is one line and the clips it pushed one more. Linear in the size of the models, apart from the
// alignment of tracks. Pure; safe from any thread.

#include "engine/QFMLTModel.h"

#include <QStringList>

class QFMLTChangeList final {
public:
    QFMLTChangeList() = delete;

    // Lines beyond this many are summed up in one last line, "%i more changes".
    static constexpr int kLineLimit = 200;

    // Empty when nothing notable changed.
    static QStringList changeLines(const QFMLTModel &older, const QFMLTModel &newer);
};
