#include "tools/embpatch/cli.h"
#include "tools/embpatch/commands.h"

namespace emberfall::cli {

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"run",
       "--game-dir DIR [--config-url URL]... [--exe-path PATH] [--lang en|de|tr] [--trust-key PUB]..."
       " [--trust-state FILE] [--product P] [--channel C] [--connections N]",
       "bring a game folder up to date, as the launcher does",
       "Runs one patch run of the launcher's engine on DIR: fetches the configuration\n"
       "document (from each --config-url in order, or the built-in pair), the CRC\n"
       "list, verifies the files through the folder's EmbLauncher.cache, downloads,\n"
       "checks and replaces what differs.\n"
       "\n"
       "  --game-dir DIR     the game folder (created if missing)\n"
       "  --config-url URL   a configuration document URL; repeat for mirrors\n"
       "  --exe-path PATH    the launcher executable this run updates in place\n"
       "                     (default: embpatch itself)\n"
       "  --lang en|de|tr    language of the progress texts (default: locale.cfg\n"
       "                     of the folder, else the user's language)\n"
       "  --trust-key PUB    install only a release whose crclist.sig this public key\n"
       "                     (130 hex digits, as keygen prints) or another\n"
       "                     --trust-key signed, and keep only files whose SHA-256\n"
       "                     it signs (default: the keys built in, usually none:\n"
       "                     no signature needed)\n"
       "  --trust-state FILE where a signed run keeps the highest release serial it\n"
       "                     accepted (default: a file per game folder in\n"
       "                     $XDG_STATE_HOME/emberfall/release-state, or\n"
       "                     %LOCALAPPDATA% on Windows; never the game folder)\n"
       "  --product P        install only a signed release for product P and\n"
       "  --channel C        channel C (default: the build's, emberfall and live)\n"
       "  --connections N    size probes and downloads over N connections at once,\n"
       "                     1 to 16 (default 6); 1 sends one request at a time\n"
       "\n"
       "On a terminal the progress is drawn live; otherwise one line per step.\n"
       "Exit 0 with the summary as the last line of stdout; 1 with the failure\n"
       "message as the last line of stderr; 130 when interrupted with Ctrl-C.\n"
       "embpatch never sends error reports.\n",
       RunPatchRun},
      {"publish",
       "--from DIR --web-root DIR --crcpatch-url URL --version V [--run-path P] [--level 1|999] [--bare]"
       " [--sign-key KEY.pem [--passphrase-file F] [--product P] [--channel C] [--expires-days N]"
       " [--serial N]]",
       "turn a game folder into a patch server's files",
       "Writes everything a patch server serves for the game folder DIR into the\n"
       "web root: new/emb.launcher.config.xml, and under the path of URL and the\n"
       "version V the CRC list (crclist) and one payload per file (<path>.lz).\n"
       "Any static web server can serve the web root.\n"
       "\n"
       "  --crcpatch-url URL  where players fetch the files (http:// or https://)\n"
       "  --version V         the patch version directory (letters, digits, - . _)\n"
       "  --run-path P        the game's entry executable (default emb.bin)\n"
       "  --level 1|999       compression: 1 fast (about as small as LZO1X-1),\n"
       "                      999 smallest (at most LZO1X-999's size; default)\n"
       "  --bare              size-prefixed payloads instead of MCOZ containers\n"
       "  --sign-key KEY.pem  also write the signed release document crclist.sig\n"
       "                      beside the crclist, signing the SHA-256 of the files\n"
       "                      in DIR (see 'embpatch help sign' for the document and\n"
       "                      the other signing options)\n"
       "\n"
       "Republishing over an existing web root rewrites only what changed and\n"
       "removes payloads of files that are gone. Every file is written through a\n"
       "temporary name, so a running server never serves half a file. With\n"
       "--sign-key every payload kept must decode to exactly its file in DIR;\n"
       "otherwise each such file is named on stderr, nothing is written and the\n"
       "exit code is 1.\n",
       RunPublish},
      {"sign",
       "--web-root DIR --version V --sign-key KEY.pem [--passphrase-file F] [--from SRC]"
       " [--product P] [--channel C] [--expires-days N] [--serial N]",
       "sign a publication: write its release document crclist.sig",
       "Writes crclist.sig beside the crclist of version V in the web root (found\n"
       "through its new/emb.launcher.config.xml): the product and channel, the\n"
       "SHA-256 of the crclist and, for every file it lists, the SHA-256 and size\n"
       "of the decoded file, under a release serial and an expiry time, signed\n"
       "with the ECDSA P-256 key. Launchers built with the matching public key,\n"
       "product and channel install nothing else.\n"
       "\n"
       "  --sign-key KEY.pem  the private key from 'embpatch keygen'\n"
       "  --passphrase-file F the passphrase of an encrypted key: F's first line\n"
       "  --from SRC          the source folder: sign the SHA-256 of its files\n"
       "                      (each payload must decode to its file in SRC)\n"
       "  --product P         the product the release is for (default emberfall)\n"
       "  --channel C         its channel (default live); names are 1 to 64 of\n"
       "                      a-z 0-9 . _ -, the first a letter or digit\n"
       "  --expires-days N    days until launchers refuse the release (default 30,\n"
       "                      at most 3650); sign again before then\n"
       "  --serial N          the release serial, 1 to 2^53 (default: one more than\n"
       "                      the highest of the crclist.sig files anywhere in the\n"
       "                      web root that this key signed)\n"
       "\n"
       "Without --from only what this key signed before is signed again: the\n"
       "crclist.sig already there must verify under the key for the product and\n"
       "channel, and every payload must still decode to the hash it signs; a\n"
       "changed or new file needs --from. Every payload is decoded as the launcher\n"
       "decodes it and checked against the crclist's size and CRC-32; any mismatch\n"
       "signs nothing and names each file on stderr. The document is parsed and\n"
       "verified before it is written, through a temporary name.\n",
       RunSign},
      {"verify-publication",
       "--web-root DIR --version V --trust-key PUB... [--product P] [--channel C]",
       "check a signed publication as a launcher with pinned keys would",
       "Checks version V in the web root offline: the signature of crclist.sig by\n"
       "one of the --trust-key public keys (130 hex digits, as keygen prints;\n"
       "repeat the option for a second key), the product and channel (default\n"
       "emberfall and live), the crclist's hash, the expiry, and every payload\n"
       "decoded against its signed SHA-256 and size.\n"
       "Prints one line per problem on stdout; exit 1 if there is any, else 0\n"
       "with \"ok: serial N, M files, expires T\".\n",
       RunVerifyPublication},
      {"keygen", "--out KEY.pem [--passphrase-file F]",
       "make a signing key for publications",
       "Writes a new ECDSA P-256 private key to KEY.pem (PEM PKCS#8, mode 0600;\n"
       "an existing file is never overwritten) and prints its public key on\n"
       "stdout as 130 lower-case hex digits: the form builds and --trust-key take.\n"
       "With --passphrase-file the key is encrypted under the first line of F\n"
       "(AES-256-CBC, key derived with scrypt); publish and sign then need the\n"
       "same option. Keep the private key off the patch server.\n",
       RunKeygen},
      {"pack", "IN -o OUT [--bare] [--level 1|999]",
       "compress one file into a payload",
       "Compresses IN into the payload OUT (MCOZ container, or size-prefixed with\n"
       "--bare) and prints \"<crc> <size> <payload size>\". --level as for publish.\n",
       RunPack},
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
      {"fetch", "URL [--head] [--max-bytes N] [--refresh] [-o FILE]",
       "fetch a URL with the launcher's HTTP client",
       "Requests URL exactly as the launcher does (same client, user agent,\n"
       "time-outs, proxy and certificate rules) and writes the body to stdout,\n"
       "or to FILE with -o. On a terminal the body is shown line by line with\n"
       "control characters and invalid UTF-8 escaped as \\xNN; redirected, it\n"
       "is written unchanged.\n"
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
