// The file names of the processes Pelorin hides unless "Show Known Processes"
// is ticked, as its documentation lists them (letter case significant), and
// the 64-bit program's own name, so that it hides itself as Pelorin.exe does.
#pragma once

#include <algorithm>
#include <string_view>

namespace pelorin::test {

constexpr std::string_view kKnownNames[] = {
    "explorer.exe", "Pelorin.exe", "Tessivane.exe", "csrss.exe", "winlogon.exe", "spoolsv.exe", "lsass.exe",
    "services.exe", "alg.exe", "searchindexer.exe", "searchfilterhost.exe", "searchprotocolhost.exe", "wscntfy.exe",
    "svchost.exe", "wuauclt.exe", "nvsvc32.exe", "ctfmon.exe", "smss.exe", "wmiprvse.exe", "RTHDCPL.exe",
    "Proxomitron.exe", "Ostrel.exe", "CCC.exe", "MOM.exe", "ati2evxx.exe", "RtWLan.exe", "BDARemote.exe",
    "iPodService.exe", "AppleMobileDeviceService.exe", "iTunesHelper.exe", "SeaPort.exe", "sqlservr.exe",
    "sqlwriter.exe", "sqlbrowser.exe", "OUTLOOK.EXE", "mdm.exe", "TdmService.exe", "acrotray.exe", "jqs.exe",
    "jusched.exe", "Smc.exe", "SmcGui.exe", "SescLU.exe", "ccApp.exe", "ccSvcHst.exe", "BcmSqlStartupSvc.exe",
    "Pelorin64.exe",
};
inline bool IsKnownName(std::string_view name) { return std::ranges::find(kKnownNames, name) != std::end(kKnownNames); }

}  // namespace pelorin::test
