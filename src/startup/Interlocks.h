#pragma once
// The twenty interlock positions as the main window groups them. The index
// follows the terminal chain; the groups do not.

#include <QString>
#include <QVector>

struct InterlockGroup {
    QString caption;      // "Recycle, L1-3"
    QVector<int> indices; // in row order, top to bottom
};

// The fixed terminal caption of index k, "L1-40" .. "60-P".
QString terminalCaption(int k);

// The four groups: "Recycle, L1-3", "Non-Recycle", "Oil Limits", "Gas Limits".
const QVector<InterlockGroup>& interlockGroups();
