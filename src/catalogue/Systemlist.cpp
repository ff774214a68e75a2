#include "catalogue/Systemlist.h"

namespace pelorin {

using enum BaseFolder;

const std::array<KnownProcessRow, KnownProcessCount> KnownProcessTable = {{
    {Windows, "", "explorer.exe"},
    {Program, "", "Pelorin.exe"},
    {Program, "", "Pelorin64.exe"},
    {Program, "", "Tessivane.exe"},
    {System, "", "csrss.exe"},
    {System, "", "winlogon.exe"},
    {System, "", "spoolsv.exe"},
    {System, "", "lsass.exe"},
    {System, "", "services.exe"},
    {System, "", "alg.exe"},
    {System, "", "searchindexer.exe"},
    {System, "", "searchfilterhost.exe"},
    {System, "", "searchprotocolhost.exe"},
    {System, "", "wscntfy.exe"},
    {System, "", "svchost.exe"},
    {System, "", "wuauclt.exe"},
    {System, "", "nvsvc32.exe"},
    {System, "", "ctfmon.exe"},
    {System, "", "smss.exe"},
    {System, "wbem\\", "wmiprvse.exe"},
    {Windows, "", "RTHDCPL.exe"},
    {DriveRoot, "ProxN45J\\", "Proxomitron.exe"},
    {DriveRoot, "Brannock\\Ostrel\\", "Ostrel.exe"},
    {ProgramFiles, "ATI Technologies\\ATI.ACE\\Core-Static\\", "CCC.exe"},
    {ProgramFiles, "ATI Technologies\\ATI.ACE\\Core-Static\\", "MOM.exe"},
    {ProgramFiles, "", "ati2evxx.exe"},
    {ProgramFiles, "Rosewill 11n USB Wireless LAN Utility\\", "RtWLan.exe"},
    {ProgramFiles, "USB TV\\EM28XX\\", "BDARemote.exe"},
    {ProgramFiles, "iPod\\bin\\", "iPodService.exe"},
    {ProgramFiles, "Common Files\\Apple\\Mobile Device Support\\", "AppleMobileDeviceService.exe"},
    {ProgramFiles, "iTunes\\", "iTunesHelper.exe"},
    {ProgramFiles, "Microsoft\\", "SeaPort.exe"},
    {ProgramFiles, "Microsoft\\", "sqlservr.exe"},
    {ProgramFiles, "Microsoft\\", "sqlwriter.exe"},
    {ProgramFiles, "Microsoft SQL Server\\90\\Shared\\", "sqlbrowser.exe"},
    {ProgramFiles, "Microsoft Office\\Office12\\", "OUTLOOK.EXE"},
    {ProgramFiles, "Common Files\\Microsoft Shared\\VS7DEBUG\\", "mdm.exe"},
    {ProgramFiles, "Wave Systems Corp\\Trusted Drive Manager\\", "TdmService.exe"},
    {ProgramFiles, "Adobe\\Acrobat 9.0\\Acrobat\\", "acrotray.exe"},
    {ProgramFiles, "Java\\jre6\\bin\\", "jqs.exe"},
    {ProgramFiles, "Java\\Java Update\\", "jusched.exe"},
    {ProgramFiles, "Symantec\\Symantec Endpoint Protection\\", "Smc.exe"},
    {ProgramFiles, "Symantec\\Symantec Endpoint Protection\\", "SmcGui.exe"},
    {ProgramFiles, "Symantec\\Symantec Endpoint Protection\\", "SescLU.exe"},
    {ProgramFiles, "Common Files\\Symantec Shared\\", "ccApp.exe"},
    {ProgramFiles, "Common Files\\Symantec Shared\\", "ccSvcHst.exe"},
    {ProgramFiles, "Microsoft Small Business\\Business Contact Manager\\", "BcmSqlStartupSvc.exe"},
}};

bool IsKnownProcess(std::string_view name) {
    // A row's folder stands on both sides of its comparison, so only the file
    // name can differ; an empty name matches no row.
    for (const KnownProcessRow& row : KnownProcessTable) {
        if (row.fileName == name) return true;
    }
    return false;
}

}  // namespace pelorin
