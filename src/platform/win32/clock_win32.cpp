#include <windows.h>

#include "platform/clock.h"

namespace marlinok::platform {

SystemTime ReadSystemClock() noexcept {
  SYSTEMTIME st;
  GetSystemTime(&st);
  return SystemTime{st.wYear, st.wMonth,  st.wDayOfWeek, st.wDay,
                    st.wHour, st.wMinute, st.wSecond,    st.wMilliseconds};
}

}  // namespace marlinok::platform
