// The system clock as the MCU and the radio report it, and the conversion of
// radio clock-time stamps. The handlers run on the link's reader thread;
// getTime() uses nothing but its arguments.

#include "mainappprotocolcomm.h"

#include <mcumessages.h>

#include <appdata.h>
#include <datadefault.h>
#include <datasavecontrol.h>
#include <setupstridconst.h>
#include <systemclock.h>

#include <QtEndian>
#include <QDate>
#include <QDateTime>
#include <QDebug>
#include <QTime>

#include <algorithm>
#include <cstdint>

namespace tqappframework {

namespace {

// 180 days of 86400 seconds, less one: an MCU clock at or below this (taken as
// signed, so a set top bit counts too) has never been set.
const int32_t McuTimeTrustedAbove = 15551999;

// The Modified Julian Date formula holds from 1 March 1900 to 28 February 2100.
const unsigned long MjdFirst = 15079;
const unsigned long MjdLast = 88127;
const int MinutesPerDay = 1440;

bool isLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

} // namespace

void MainAppProtocolComm::handleMcuTime(const unsigned char *frame)
{
    QDateTime fallback = QDateTime::currentDateTime();
    fallback.setDate(QDate(2024, 1, 1));
    const uint32_t fallbackSeconds = uint32_t(fallback.toSecsSinceEpoch());

    const uint32_t mcuSeconds = qFromBigEndian<quint32>(frame + 13);

    if (int32_t(mcuSeconds) > McuTimeTrustedAbove) {
        SystemClock::setSystemTime(time_t(mcuSeconds));
    } else {
        SystemClock::setSystemTime(time_t(fallbackSeconds));
        // The MCU keeps the date we chose, so both clocks agree from now on.
        SendTimeClockToMcu(MSG_A2M_TIME_CLOCK, fallbackSeconds);
    }
    if (AppData *appData = AppData::GetInstance())
        appData->setMcuTimeSynced(true);
}

void MainAppProtocolComm::handleRdsTime(const unsigned char *frame)
{
    const QString &key = SetupStrIdConst::setupSyncRdsTime;
    const bool byDefault = DataDefault::getDefault(key).toBool();
    if (!DataSaveControl::readSettingData(key, QVariant(byDefault), QString()).toBool())
        return;

    const int hour = frame[13];
    const int minute = frame[14];
    const QTime timeOfDay(hour, minute, 0, 0);
    if (!timeOfDay.isValid()) {
        qDebug("%s radio time %d:%d is no time of day, clock left alone", __FUNCTION__, hour,
               minute);
        return;
    }

    QDateTime now = QDateTime::currentDateTime();
    now.setTime(timeOfDay);
    // The hour the clocks skip when summer time begins does not exist today.
    if (!now.isValid()) {
        qDebug("%s radio time %d:%d does not exist today, clock left alone", __FUNCTION__, hour,
               minute);
        return;
    }
    const uint32_t seconds = uint32_t(now.toSecsSinceEpoch());
    SystemClock::setSystemTime(time_t(seconds));
    SendTimeClockToMcu(MSG_A2M_TIME_CLOCK, seconds);
}

void MainAppProtocolComm::getTime(unsigned long mjd, int minutesA, int minutesB,
                                  TimeParam *result)
{
    static const short s_monthDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

    // Outside the formula's range, and beyond one day of carry either way, the
    // inputs are pinned to the nearest end: the result is then a valid date
    // and time, if not a meaningful one, and no conversion below can overflow.
    const double day = double(std::clamp(mjd, MjdFirst, MjdLast));
    int minutes = int(std::clamp(int64_t(minutesA) + minutesB, int64_t(1 - MinutesPerDay),
                                 int64_t(2 * MinutesPerDay - 1)));

    const int yp = int((day - 15078.2) / 365.25);
    const int mp = int((day - 14956.1 - int(yp * 365.25)) / 30.6001);
    const int k = (mp == 14 || mp == 15) ? 1 : 0;
    int year = yp + k;
    int month = mp - 1 - 12 * k;
    int dayOfMonth = int(day) - 14956 - int(yp * 365.25) - int(mp * 30.6001);

    short monthDays[13];
    std::copy(s_monthDays, s_monthDays + 13, monthDays);
    if (isLeapYear(1900 + year))
        monthDays[2] = 29;

    if (minutes >= MinutesPerDay) {
        minutes -= MinutesPerDay;
        ++dayOfMonth;
    } else if (minutes < 0) {
        minutes += MinutesPerDay;
        --dayOfMonth;
    }

    if (dayOfMonth > monthDays[month]) {
        dayOfMonth -= monthDays[month];
        if (month == 12) {
            month = 1;
            ++year;
        } else {
            ++month;
        }
    }
    if (dayOfMonth == 0) {
        if (month == 1) {
            month = 12;
            --year;
        } else {
            --month;
        }
        dayOfMonth = monthDays[month];
    }

    result->year = 1900 + year;
    result->month = month;
    result->day = dayOfMonth;
    result->hour = minutes / 60;
    result->minute = minutes % 60;
}

} // namespace tqappframework
