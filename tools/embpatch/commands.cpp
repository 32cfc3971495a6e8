#include "tools/embpatch/cli.h"
#include "tools/embpatch/commands.h"

namespace emberfall::cli {

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"xml-attr", "FILE ELEMENT ATTR",
       "print an attribute as the launcher reads it from an XML file",
       "Prints the value of attribute ATTR on the first ELEMENT start tag of FILE,\n"
       "exactly as the launcher's XML reader finds it (entities decoded), followed\n"
       "by a newline. A missing element or attribute prints an empty line.\n"
       "Exit 0; 1 if FILE cannot be read.\n",
       RunXmlAttr},
      {"parse-config", "FILE",
       "check a patch configuration document",
       "Parses FILE as the patch configuration document and prints four lines:\n"
       "  run_path=      the game's entry executable, normalised\n"
       "  crcpatch_url=  where the published files live\n"
       "  crcversion=    the patch version directory\n"
       "  base_url=      the base URL a run downloads from\n"
       "EMBERFALL_PATCH_URL is applied as the launcher applies it.\n"
       "Exit 0; on a failure the launcher's failure message is the last line on\n"
       "stderr and the exit code is 1.\n",
       RunParseConfig},
      {"parse-crclist", "FILE",
       "check a CRC list",
       "Parses FILE as a CRC list and prints one line per entry:\n"
       "  <crc, 8 hex digits> <size> <packed_size> <reserved> <path>\n"
       "with the path normalised as the launcher stores it locally.\n"
       "Exit 0; on a failure the launcher's failure message is the last line on\n"
       "stderr and the exit code is 1.\n",
       RunParseCrcList},
      {"fetch", "URL [--head] [--max-bytes N] [--refresh] [-o FILE]",
       "fetch a URL with the launcher's HTTP client",
       "Requests URL exactly as the launcher does (same client, user agent,\n"
       "time-outs, proxy and certificate rules) and writes the body to stdout,\n"
       "or to FILE with -o.\n"
       "  --head         send HEAD instead and print the Content-Length, or -1\n"
       "                 when the server gives none\n"
       "  --max-bytes N  refuse a body larger than N bytes\n"
       "  --refresh      ask caches on the way for a fresh copy\n"
       "Exit 0; on a failure the client's reason (for example \"HTTP 404\" or\n"
       "\"WinHTTP connect: cannot connect (12029)\") is the last line on stderr and\n"
       "the exit code is 1.\n",
       RunFetch},
  };
  return commands;
}

}  // namespace emberfall::cli
