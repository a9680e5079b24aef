#include "updater/Updater.h"

Updater::Updater(const std::string& serverUrl, const std::string& storePath, UpdaterDisplayInterface& display)
    : serverUrl_(serverUrl), storePath_(storePath), display_(display) {}
