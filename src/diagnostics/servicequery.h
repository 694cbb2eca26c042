#pragma once

#include <QByteArray>
#include <QString>

namespace servicequery {

// The toolbox's reading of "sc query" output: "1060" when the output says the
// service does not exist (the Windows error code, or its English text),
// otherwise the state text of the first STATE line ("4  RUNNING"), or empty
// when there is none, e.g. because the tool could not run.
QString judgeOutput(const QByteArray &output);

} // namespace servicequery
