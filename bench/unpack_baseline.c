/* The baseline of unpack.sh: a plain C program that reads one payload with a
 * single fread, decodes it with liblzo2's safe decoder and writes the output.
 *
 *   unpack_baseline PAYLOAD SIZE OUT
 */
#include <lzo/lzo1x.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc != 4 || lzo_init() != LZO_E_OK) return 2;
  FILE* in = fopen(argv[1], "rb");
  if (in == NULL || fseek(in, 0, SEEK_END) != 0) return 1;
  const long length = ftell(in);
  if (length < 20 || fseek(in, 0, SEEK_SET) != 0) return 1;
  unsigned char* payload = malloc((size_t)length);
  if (payload == NULL || fread(payload, 1, (size_t)length, in) != (size_t)length) return 1;
  fclose(in);
  /* MCOZ container: the stream follows a 20-byte header; otherwise a 4-byte size. */
  const size_t header = memcmp(payload, "MCOZ", 4) == 0 ? 20 : 4;
  lzo_uint size = (lzo_uint)strtoull(argv[2], NULL, 10);
  unsigned char* out = malloc(size);
  if (out == NULL) return 1;
  lzo_uint produced = size;
  if (lzo1x_decompress_safe(payload + header, (lzo_uint)length - header, out, &produced, NULL) !=
          LZO_E_OK ||
      produced != size) {
    fprintf(stderr, "decode failed\n");
    return 1;
  }
  FILE* target = fopen(argv[3], "wb");
  if (target == NULL || fwrite(out, 1, produced, target) != produced || fclose(target) != 0) return 1;
  free(out);
  free(payload);
  return 0;
}
