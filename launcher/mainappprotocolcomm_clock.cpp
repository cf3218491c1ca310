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

#include <checkedclock.h>

#include <QtEndian>
#include <QDebug>

#include <algorithm>
#include <cstdint>
#include <ctime>

namespace tqappframework {

namespace {

// 180 days of 86400 seconds, less one: an MCU clock at or below this has
// counted up from 0 since it lost power, and was never set.
const uint32_t McuTimeTrustedAbove = 15551999;
// An unsigned count, so set clocks run to 2106-02-07; all ones is what a
// counter that was never written reads.
const uint32_t McuTimeNeverSet = UINT32_MAX;

bool mcuClockIsSet(uint32_t seconds)
{
    return seconds > McuTimeTrustedAbove && seconds != McuTimeNeverSet;
}

// Seconds since the epoch of a local date and time, in 64 bits; false for a
// time of day that this date skips (summer time begins).
bool localSeconds(struct tm local, int64_t *seconds)
{
    const int hour = local.tm_hour;
    const int minute = local.tm_min;
    local.tm_isdst = -1;
    const time_t t = mktime(&local);
    if (local.tm_hour != hour || local.tm_min != minute)
        return false;
    *seconds = int64_t(t);
    return true;
}

// What the clock command can carry: unsigned 32-bit seconds.
bool fitsTheWire(int64_t seconds)
{
    return seconds >= 0 && seconds <= int64_t(UINT32_MAX);
}

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
    // 1 January 2024 at the local time of day; at midnight when the clock
    // cannot be read. The time of day is the 64-bit clock's, not Qt's: a Qt
    // with 32-bit time (Debian 12's armhf one) reads 1970 from 2038 on.
    struct tm fallback = {};
    localTimeNow(&fallback);
    fallback.tm_year = 2024 - 1900;
    fallback.tm_mon = 0;
    fallback.tm_mday = 1;
    int64_t fallbackSeconds = 0;
    if (!localSeconds(fallback, &fallbackSeconds)) {
        fallback.tm_hour = fallback.tm_min = fallback.tm_sec = 0;
        localSeconds(fallback, &fallbackSeconds);
    }

    const uint32_t mcuSeconds = qFromBigEndian<quint32>(frame + 13);

    if (mcuClockIsSet(mcuSeconds)) {
        SystemClock::setSystemTime(time_t(mcuSeconds));
    } else {
        SystemClock::setSystemTime(time_t(fallbackSeconds));
        // The MCU keeps the date we chose, so both clocks agree from now on.
        SendTimeClockToMcu(MSG_A2M_TIME_CLOCK, uint32_t(fallbackSeconds));
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
    if (hour > 23 || minute > 59) {
        qDebug("%s radio time %d:%d is no time of day, clock left alone", __FUNCTION__, hour,
               minute);
        return;
    }

    // Today is the system clock's: without it there is no date to put the
    // time on.
    struct tm today;
    if (!localTimeNow(&today)) {
        qDebug("%s radio time %d:%d comes with no date, clock left alone", __FUNCTION__, hour,
               minute);
        return;
    }
    today.tm_hour = hour;
    today.tm_min = minute;
    today.tm_sec = 0;
    int64_t seconds = 0;
    // The hour the clocks skip when summer time begins does not exist today.
    if (!localSeconds(today, &seconds) || !fitsTheWire(seconds)) {
        qDebug("%s radio time %d:%d does not exist today, clock left alone", __FUNCTION__, hour,
               minute);
        return;
    }
    SystemClock::setSystemTime(time_t(seconds));
    SendTimeClockToMcu(MSG_A2M_TIME_CLOCK, uint32_t(seconds));
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
