#pragma once
// The files qv840ctl check writes: -o FILE.csv or FILE.json, and --report
// FILE, the support report (diag/CheckExport.h).

#include "diag/CheckExport.h"

#include <QString>
#include <optional>

struct CheckFiles {
    QString output; // FILE.csv or FILE.json, or empty
    QString report; // the support report, or empty
};

// Refuses, before the port is touched, a file name that says no format or a
// place that cannot be written.
std::optional<int> checkFileTargets(const CheckFiles& files);
// Saves the files asked for; an exit status after saying why when one fails.
std::optional<int> saveCheckFiles(const CheckFiles& files, const CheckResult& r,
                                  const ReportContext& context);
