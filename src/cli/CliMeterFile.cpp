#include "cli/CliMeterFile.h"

#include "meterqx/SeriesModels.h"

CliMeterFile::CliMeterFile(Series series)
    : m_model(SeriesModels::Make(series))
{
}

CliMeterFile::~CliMeterFile() = default;
