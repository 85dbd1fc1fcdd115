#include "meterqx/SeriesModels.h"

#include "meter/KelvaneSeriesModel.h"
#include "meterqx/QuixalSeriesModel.h"

std::unique_ptr<MeterSeriesModel> SeriesModels::Make(MeterSeries::Series series)
{
    if (series == MeterSeries::Quixal)
        return std::make_unique<QuixalSeriesModel>();
    return std::make_unique<KelvaneSeriesModel>();
}
