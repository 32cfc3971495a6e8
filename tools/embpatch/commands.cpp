#include "tools/embpatch/cli.h"
#include "tools/embpatch/commands.h"

namespace emberfall::cli {
namespace {

// Options that several commands take with the same meaning, with the help
// lines of the command that lists them.
constexpr OptionRule kLevel{"--level", "1|999",
                            "compression: 1 fast (about as small as LZO1X-1),\n"
                            "999 smallest (at most LZO1X-999's size; default)"};
constexpr OptionRule kBare{"--bare", "", "size-prefixed payloads instead of MCOZ containers"};
constexpr OptionRule kPassphraseFile{"--passphrase-file", "F",
                                     "the passphrase of an encrypted key: F's first line"};
constexpr OptionRule kProduct{"--product", "P", "the product the release is for (default emberfall)"};
constexpr OptionRule kChannel{"--channel", "C",
                              "its channel (default live); names are 1 to 64 of\n"
                              "a-z 0-9 . _ -, the first a letter or digit"};
constexpr OptionRule kExpiresDays{"--expires-days", "N",
                                  "days until launchers refuse the release (default 30,\n"
                                  "at most 3650); sign again before then"};
constexpr OptionRule kSerial{"--serial", "N",
                             "the release serial, 1 to 2^53 (default: one more than\n"
                             "the highest of the crclist.sig files anywhere in the\n"
                             "web root that this key signed)"};
constexpr OptionRule kWebRoot{"--web-root", "DIR", "", true};
constexpr OptionRule kVersion{"--version", "V", "", true};

constexpr OptionRule Required(OptionRule option) {
  option.required = true;
  return option;
}

constexpr OptionRule Repeatable(OptionRule option) {
  option.repeatable = true;
  return option;
}

// Named in the usage line and the prose only.
constexpr OptionRule Unlisted(OptionRule option) {
  option.help = {};
  return option;
}

// A signing option of publish, which signs only with --sign-key.
constexpr OptionRule WithSignKey(OptionRule option) {
  option.needs = "--sign-key";
  return Unlisted(option);
}

Command Run() {
  return {
      "run", "", "", "",
      {Required({"--game-dir", "DIR", "the game folder (created if missing)"}),
       Repeatable({"--config-url", "URL", "a configuration document URL; repeat for mirrors"}),
       {"--exe-path", "PATH",
        "the launcher executable this run updates in place\n"
        "(default: embpatch itself)"},
       {"--lang", "en|de|tr",
        "language of the progress texts (default: locale.cfg\n"
        "of the folder, else the user's language)"},
       Repeatable({"--trust-key", "PUB",
                   "install only a release whose crclist.sig this public key\n"
                   "(130 hex digits, as keygen prints) or another\n"
                   "--trust-key signed, and keep only files whose SHA-256\n"
                   "it signs (default: the keys built in, usually none:\n"
                   "no signature needed)"}),
       {"--trust-state", "FILE",
        "where a signed run keeps the highest release serial it\n"
        "accepted (default: a file per game folder in\n"
        "$XDG_STATE_HOME/emberfall/release-state, or\n"
        "%LOCALAPPDATA% on Windows; never the game folder)"},
       {"--product", "P", "install only a signed release for product P and"},
       {"--channel", "C", "channel C (default: the build's, emberfall and live)"},
       {"--connections", "N",
        "size probes and downloads over N connections at once,\n"
        "1 to 16 (default 6); 1 sends one request at a time"}},
      "bring a game folder up to date, as the launcher does",
      "Runs one patch run of the launcher's engine on DIR: fetches the configuration\n"
      "document (from each --config-url in order, or the built-in pair), the CRC\n"
      "list, verifies the files through the folder's EmbLauncher.cache, downloads,\n"
      "checks and replaces what differs.\n"
      "\n",
      21,
      "\n"
      "On a terminal the progress is drawn live; otherwise one line per step.\n"
      "Exit 0 with the summary and then, in English whatever --lang says,\n"
      "  downloaded N bytes, reused M bytes from local files, resumed K bytes\n"
      "(received over the network; taken from the old local files' chunks;\n"
      "kept from an interrupted download) as the last two lines of stdout;\n"
      "1 with the failure message as the last line of stderr; 130 when\n"
      "interrupted with Ctrl-C.\n"
      "embpatch never sends error reports.\n",
      RunPatchRun};
}

Command Publish() {
  return {
      "publish", "", "", "",
      {Required({"--from", "DIR"}),
       kWebRoot,
       Required({"--crcpatch-url", "URL", "where players fetch the files (http:// or https://)"}),
       Required({"--version", "V", "the patch version directory (letters, digits, - . _)"}),
       {"--run-path", "P", "the game's entry executable (default emb.bin)"},
       kLevel,
       kBare,
       {"--chunks-only", "", "no payloads: the crclist, the chunk index and the packs"},
       {"--no-chunks", "", "payloads only, no chunk index and no packs"},
       {"--chunk-sizes", "MIN,AVG,MAX",
        "chunk sizes in KiB (default 16,64,256); AVG a power\n"
        "of two, 1 <= MIN < AVG < MAX <= 4096; the index\n"
        "records them, so clients cut as the publisher did"},
       {"--threads", "N", "compress on N threads, 1 to 8 (default: one per\n"
                          "core, at most 8); the output is the same"},
       {"--sign-key", "KEY.pem",
        "also write the signed release document crclist.sig\n"
        "beside the crclist, signing the SHA-256 of the files\n"
        "in DIR (see 'embpatch help sign' for the document and\n"
        "the other signing options)"},
       WithSignKey(kPassphraseFile),
       WithSignKey(kProduct),
       WithSignKey(kChannel),
       WithSignKey(kExpiresDays),
       WithSignKey(kSerial)},
      "turn a game folder into a patch server's files",
      "Writes everything a patch server serves for the game folder DIR into the\n"
      "web root: new/emb.launcher.config.xml, and under the path of URL and the\n"
      "version V the CRC list (crclist) and one payload per file (<path>.lz).\n"
      "Every file is also cut into chunks by its content; chunks that no release\n"
      "in the web root stores yet go into packs (<URL path>/packs/<sha256>.pack,\n"
      "about 4 MiB each, shared by every version), and V's chunk index\n"
      "(crclist.chunks) says where each file's chunks are.\n"
      "Any static web server can serve the web root.\n"
      "\n",
      22,
      "\n"
      "Republishing over an existing web root rewrites only what changed and\n"
      "removes payloads of files that are gone. Every file is written through a\n"
      "temporary name, so a running server never serves half a file. With\n"
      "--sign-key every payload kept must decode to exactly its file in DIR;\n"
      "otherwise each such file is named on stderr, nothing is written and the\n"
      "exit code is 1.\n",
      RunPublish};
}

Command UpdateCost() {
  return {
      "update-cost", "", "", "",
      {kWebRoot,
       Required({"--from", "V1", "the version the player has"}),
       Required({"--to", "V2", "the version the player updates to"}),
       {"--crcpatch-path", "P",
        "the folder of the versions in the web root (default: the\n"
        "path of the crcpatch URL in new/emb.launcher.config.xml)"}},
      "what updating a player from one version to another costs",
      "Reads the chunk indexes of V1 and V2 in the web root and prints, for a\n"
      "player who has V1 installed, one figure per line:\n"
      "  changed N files        files of V2 whose chunks differ from V1's\n"
      "  download B bytes in R requests\n"
      "                         the stored chunks V2 needs that V1 lacks, a run of\n"
      "                         chunks adjacent in one pack counted as one request\n"
      "  reused B bytes         what the changed files take from files in place\n"
      "  whole-file B bytes     the payloads of the changed files (their payload\n"
      "                         files, else the crclist's packed sizes)\n"
      "  index B bytes          the chunk index of V2, fetched once per update\n"
      "\n",
      22,
      "\nExit 0; 1 when an index is missing or does not parse.\n",
      RunUpdateCost};
}

Command Sign() {
  return {
      "sign", "", "", "",
      {kWebRoot,
       kVersion,
       Required({"--sign-key", "KEY.pem", "the private key from 'embpatch keygen'"}),
       kPassphraseFile,
       {"--from", "SRC",
        "the source folder: sign the SHA-256 of its files\n"
        "(each payload must decode to its file in SRC)"},
       kProduct,
       kChannel,
       kExpiresDays,
       kSerial},
      "sign a publication: write its release document crclist.sig",
      "Writes crclist.sig beside the crclist of version V in the web root (found\n"
      "through its new/emb.launcher.config.xml): the product and channel, the\n"
      "SHA-256 of the crclist and, for every file it lists, the SHA-256 and size\n"
      "of the decoded file, under a release serial and an expiry time, signed\n"
      "with the ECDSA P-256 key. Launchers built with the matching public key,\n"
      "product and channel install nothing else.\n"
      "\n",
      22,
      "\n"
      "Without --from only what this key signed before is signed again: the\n"
      "crclist.sig already there must verify under the key for the product and\n"
      "channel, and every payload must still decode to the hash it signs; a\n"
      "changed or new file needs --from. Every payload is decoded as the launcher\n"
      "decodes it and checked against the crclist's size and CRC-32; any mismatch\n"
      "signs nothing and names each file on stderr. The document is parsed and\n"
      "verified before it is written, through a temporary name.\n",
      RunSign};
}

Command VerifyPublication() {
  return {
      "verify-publication", "", "", "",
      {kWebRoot, kVersion, Required(Repeatable({"--trust-key", "PUB"})), Unlisted(kProduct),
       Unlisted(kChannel)},
      "check a signed publication as a launcher with pinned keys would",
      "Checks version V in the web root offline: the signature of crclist.sig by\n"
      "one of the --trust-key public keys (130 hex digits, as keygen prints;\n"
      "repeat the option for a second key), the product and channel (default\n"
      "emberfall and live), the crclist's hash, the expiry, and every payload\n"
      "decoded against its signed SHA-256 and size.\n"
      "Prints one line per problem on stdout; exit 1 if there is any, else 0\n"
      "with \"ok: serial N, M files, expires T\".\n",
      0, "", RunVerifyPublication};
}

Command Keygen() {
  return {
      "keygen", "", "", "",
      {Required({"--out", "KEY.pem"}), Unlisted(kPassphraseFile)},
      "make a signing key for publications",
      "Writes a new ECDSA P-256 private key to KEY.pem (PEM PKCS#8, mode 0600;\n"
      "an existing file is never overwritten) and prints its public key on\n"
      "stdout as 130 lower-case hex digits: the form builds and --trust-key take.\n"
      "With --passphrase-file the key is encrypted under the first line of F\n"
      "(AES-256-CBC, key derived with scrypt); publish and sign then need the\n"
      "same option. Keep the private key off the patch server.\n",
      0, "", RunKeygen};
}

Command Pack() {
  return {
      "pack", "IN", "expected one input file", "expected one input file",
      {{"-o", "OUT", "", true, false, "", "-o OUT is required"}, Unlisted(kBare), Unlisted(kLevel)},
      "compress one file into a payload",
      "Compresses IN into the payload OUT (MCOZ container, or size-prefixed with\n"
      "--bare) and prints \"<crc> <size> <payload size>\". --level as for publish.\n",
      0, "", RunPack};
}

// The commands that read local files.
std::vector<Command> FileCommands() {
  return {
      {"xml-attr", "FILE ELEMENT ATTR", "missing arguments", "too many arguments", {},
       "print an attribute as the launcher reads it from an XML file",
       "Prints the value of attribute ATTR on the first ELEMENT start tag of FILE,\n"
       "exactly as the launcher's XML reader finds it (entities decoded), followed\n"
       "by a newline. A missing element or attribute prints an empty line.\n"
       "Exit 0; 1 if FILE cannot be read.\n",
       0, "", RunXmlAttr},
      {"parse-config", "FILE", "missing arguments", "too many arguments", {},
       "check a patch configuration document",
       "Parses FILE as the patch configuration document and prints four lines:\n"
       "  run_path=      the game's entry executable, normalised\n"
       "  crcpatch_url=  where the published files live\n"
       "  crcversion=    the patch version directory\n"
       "  base_url=      the base URL a run downloads from\n"
       "EMBERFALL_PATCH_URL is applied as the launcher applies it.\n"
       "Exit 0; on a failure the launcher's failure message is the last line on\n"
       "stderr and the exit code is 1.\n",
       0, "", RunParseConfig},
      {"parse-crclist", "FILE", "missing arguments", "too many arguments", {},
       "check a CRC list",
       "Parses FILE as a CRC list and prints one line per entry:\n"
       "  <crc, 8 hex digits> <size> <packed_size> <reserved> <path>\n"
       "with the path normalised as the launcher stores it locally.\n"
       "Exit 0; on a failure the launcher's failure message is the last line on\n"
       "stderr and the exit code is 1.\n",
       0, "", RunParseCrcList},
      {"crc32", "FILE...", "", "", {},
       "print the CRC-32 of files as the launcher computes it",
       "Prints one line per FILE: the CRC-32 as eight lower-case hexadecimal\n"
       "digits, two spaces and the name, the way the CRC list and the launcher's\n"
       "checksum messages show it.\n"
       "Exit 0; 1 if any FILE cannot be read (the others are still printed).\n",
       0, "", RunCrc32},
      {"unpack", "PAYLOAD", "", "too many arguments",
       {{"--size", "N", "", true, false, "", "missing --size"},
        {"-o", "OUT", "", true, false, "", "missing -o"}},
       "decode a downloaded payload as the launcher does",
       "Decodes PAYLOAD (an MCOZ container or a bare LZO1X payload) into exactly\n"
       "N bytes, the file's size from the CRC list, and writes them to OUT.\n"
       "Prints the number of bytes and their CRC-32.\n"
       "Exit 0; on a failure the launcher's failure message (for example\n"
       "\"Decompress failed | lzo input overrun\") is the last line on stderr, OUT\n"
       "is not written and the exit code is 1.\n",
       0, "", RunUnpack},
  };
}

Command Fetch() {
  return {
      "fetch", "URL", "", "too many arguments",
      {{"--head", "",
        "send HEAD instead and print the Content-Length, or -1\n"
        "when the server gives none"},
       {"--max-bytes", "N", "refuse a body larger than N bytes"},
       {"--refresh", "", "ask caches on the way for a fresh copy"},
       {"-o", "FILE"}},
      "fetch a URL with the launcher's HTTP client",
      "Requests URL exactly as the launcher does (same client, user agent,\n"
      "time-outs, proxy and certificate rules) and writes the body to stdout,\n"
      "or to FILE with -o. On a terminal the body is shown line by line with\n"
      "control characters and invalid UTF-8 escaped as \\xNN; redirected, it\n"
      "is written unchanged.\n",
      17,
      "Exit 0; on a failure the client's reason (for example \"HTTP 404\" or\n"
      "\"WinHTTP connect: cannot connect (12029)\") is the last line on stderr and\n"
      "the exit code is 1.\n",
      RunFetch};
}

}  // namespace

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = [] {
    std::vector<Command> all = {Run(),    Publish(), UpdateCost(), Sign(), VerifyPublication(),
                                Keygen(), Pack()};
    for (Command& command : FileCommands()) all.push_back(std::move(command));
    all.push_back(Fetch());
    return all;
  }();
  return commands;
}

}  // namespace emberfall::cli
