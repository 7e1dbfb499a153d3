#include "storage/time_codec.h"

#include "literal/calendar.h"
#include "storage/text.h"

namespace brackwater::storage {

using literal::TimeTag;
using literal::TimeValue;

void write_persisted_time(const TimeValue& time, ByteWriter& out) {
  out.put_u8(static_cast<uint8_t>(time.tag));
  switch (time.tag) {
    case TimeTag::Bot:
    case TimeTag::Eot:
      return;
    case TimeTag::Year:
      out.put_u32(static_cast<uint32_t>(time.year));
      return;
    case TimeTag::YearMonth:
      out.put_u32(static_cast<uint32_t>(time.year));
      out.put_u8(time.month);
      return;
    case TimeTag::Date:
    case TimeTag::DateTime:
      out.put_u32(static_cast<uint32_t>(time.year));
      out.put_u8(time.month);
      out.put_u8(time.day);
      if (time.tag == TimeTag::DateTime) {
        out.put_u8(static_cast<uint8_t>(time.secs / 3600));
        out.put_u8(static_cast<uint8_t>(time.secs / 60 % 60));
        out.put_u8(static_cast<uint8_t>(time.secs % 60));
        out.put_u32(time.nanos);
      }
      return;
  }
}

Result<TimeValue> read_persisted_time(Cursor& c) {
  auto tag = read_u8(c, "time tag");
  if (!tag) return fail(std::move(tag.error()));
  if (*tag == 0) return TimeValue::bot();
  if (*tag == 1) return TimeValue::eot();
  if (*tag > 5) return fail(EngineError::data_corruption(str_cat("unknown time tag ", *tag)));

  auto year_bits = read_u32(c, "time year");
  if (!year_bits) return fail(std::move(year_bits.error()));
  const int32_t year = static_cast<int32_t>(*year_bits);
  if (*tag == 2) return TimeValue::of_year(year);

  auto month = read_u8(c, "time month");
  if (!month) return fail(std::move(month.error()));
  if (*tag == 3) {
    if (*month < 1 || *month > 12) return fail(EngineError::data_corruption("invalid time month"));
    return TimeValue::of_year_month(year, *month);
  }

  auto day = read_u8(c, "time day");
  if (!day) return fail(std::move(day.error()));
  if (!literal::is_valid_date(year, *month, *day)) {
    return fail(EngineError::data_corruption("invalid persisted calendar date"));
  }
  if (*tag == 4) return TimeValue::of_date(year, *month, *day);

  uint8_t hms[3];
  constexpr std::string_view kNames[3] = {"time hour", "time minute", "time second"};
  for (int i = 0; i < 3; ++i) {
    auto v = read_u8(c, kNames[i]);
    if (!v) return fail(std::move(v.error()));
    hms[i] = *v;
  }
  auto nanos = read_u32(c, "time nanosecond");
  if (!nanos) return fail(std::move(nanos.error()));
  const uint32_t nanos_limit = hms[2] == 59 ? 2'000'000'000u : 1'000'000'000u;
  if (hms[0] >= 24 || hms[1] >= 60 || hms[2] >= 60 || *nanos >= nanos_limit) {
    return fail(EngineError::data_corruption("invalid persisted UTC datetime"));
  }
  return TimeValue::of_date_time(year, *month, *day, uint32_t(hms[0]) * 3600 + uint32_t(hms[1]) * 60 + hms[2],
                                 *nanos);
}

}  // namespace brackwater::storage
