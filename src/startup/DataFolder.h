#pragma once
// Where the start-up files (filedata.fm, Defaults.txt, CRC-16.TBL) are found.
// A build folder or a copied folder keeps them beside the executable; an
// installed copy keeps them in ../share/qv840n relative to it.

#include <QString>

// The folder beside the executable when it holds filedata.fm, else
// ../share/qv840n relative to it when that one does, else the executable's
// folder (whose missing files the start-up messages then name).
QString dataFolder();

// The same rule for an executable in exeFolder.
QString dataFolderFor(const QString& exeFolder);

// The file called name among the user's own files, which the window and
// qv840ctl share (the history, the line's state): in $QV840N_DATA_DIR when it
// is set, else in qv840n/ of the system's data location (~/.local/share on
// Linux), named here, not after whichever program runs.
QString userDataFile(const QString& name);
