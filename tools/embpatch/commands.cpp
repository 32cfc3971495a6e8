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
      {"crc32", "FILE...",
       "print the CRC-32 of files as the launcher computes it",
       "Prints one line per FILE: the CRC-32 as eight lower-case hexadecimal\n"
       "digits, two spaces and the name, the way the CRC list and the launcher's\n"
       "checksum messages show it.\n"
       "Exit 0; 1 if any FILE cannot be read (the others are still printed).\n",
       RunCrc32},
      {"unpack", "PAYLOAD --size N -o OUT",
       "decode a downloaded payload as the launcher does",
       "Decodes PAYLOAD (an MCOZ container or a bare LZO1X payload) into exactly\n"
       "N bytes, the file's size from the CRC list, and writes them to OUT.\n"
       "Prints the number of bytes and their CRC-32.\n"
       "Exit 0; on a failure the launcher's failure message (for example\n"
       "\"Decompress failed | lzo input overrun\") is the last line on stderr, OUT\n"
       "is not written and the exit code is 1.\n",
       RunUnpack},
  };
  return commands;
}

}  // namespace emberfall::cli
