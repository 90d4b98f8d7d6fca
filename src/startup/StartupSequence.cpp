#include "startup/StartupSequence.h"

std::optional<ConfigError> runStartup(Configuration& config, StartupSteps& steps, CrcLoader loadCrc,
                                      const QString& folder, int splashPauseMs) {
    steps.showSplash();

    // The three files are read into locals first so that a bad one leaves the
    // configuration as it was.
    auto fail = [&steps](const ConfigError& error) {
        steps.reportConfigError(error);
        return std::optional<ConfigError>(error);
    };
    CrcTableArray crc{};
    if (auto err = loadCrc(folder, crc))
        return fail(*err);

    FileData fileData;
    if (auto err = readFileData(folder, fileData))
        return fail(*err);
    QStringList speeds;
    for (int i = 1; i <= kSpeedCount; ++i)
        speeds << fileData.baudRates[static_cast<size_t>(i)];
    steps.fillSpeedList(speeds);

    TextTable defaults;
    if (auto err = readDefaults(folder, defaults))
        return fail(*err);

    config.crcTable = crc;
    config.baudRates = fileData.baudRates;
    config.terminalNames = fileData.terminalNames;
    config.defaultMessages = defaults;

    steps.pause(splashPauseMs);
    steps.loadCommsTest();
    steps.runConnectionDialog();
    steps.loadMainWindow();
    return std::nullopt;
}
