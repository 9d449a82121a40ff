#include "metrics/metricchecks.h"

#include "metrics/imagemetrics.h"

#include <QCoreApplication>

namespace veltrano {

namespace
{

QString sizeText(const QImage &image)
{
    return QStringLiteral("%1x%2").arg(image.width()).arg(image.height());
}

} // namespace

bool failMetric(QString *errorMessage, const QString &message)
{
    if (errorMessage)
        *errorMessage = message;
    return false;
}

bool checkImagePair(const QImage &reference, const QImage &test, int minimumSize, QString *errorMessage)
{
    if (reference.isNull())
        return failMetric(errorMessage, QCoreApplication::translate("windowedSsim", "the reference image is empty"));
    if (test.isNull())
        return failMetric(errorMessage, QCoreApplication::translate("windowedSsim", "the test image is empty"));
    if (reference.size() != test.size())
        return failMetric(errorMessage,
                          QCoreApplication::translate("windowedSsim", "the images differ in size (%1 and %2)")
                              .arg(sizeText(reference), sizeText(test)));
    if (reference.width() < minimumSize || reference.height() < minimumSize)
        return failMetric(errorMessage, QCoreApplication::translate(
                                            "windowedSsim", "the images (%1) are smaller than the %2 x %2 window")
                                            .arg(sizeText(reference))
                                            .arg(minimumSize));
    return true;
}

bool checkChannel(int channel, QString *errorMessage)
{
    if (channel < RedChannel || channel > LumaChannel)
        return failMetric(errorMessage,
                          QCoreApplication::translate("windowedSsim", "no channel %1 (0 to 3)").arg(channel));
    return true;
}

} // namespace veltrano
