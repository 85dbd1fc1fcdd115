#pragma once

#include "meter/MeterSeries.h"
#include "meter/MeterSeriesModel.h"

#include <memory>

// Makes the model of a meter series: the one place that knows both (meterqx/ is the lowest
// floor that sees the Kelvane and the Quixal halves). tarvik-cli and the tests ask it by series
// or by a file's path.
class SeriesModels
{
public:
    // Unknown makes the Kelvane model, the series of any file not named ".qxm".
    static std::unique_ptr<MeterSeriesModel> Make(MeterSeries::Series series);
    static std::unique_ptr<MeterSeriesModel> OfPath(const QString &path)
    {
        return Make(MeterSeries::OfPath(path));
    }
};
