// Owners of the libcurl objects the Linux transport and the error reporter
// use.
#ifndef EMBERFALL_NET_CURL_HANDLES_POSIX_H_
#define EMBERFALL_NET_CURL_HANDLES_POSIX_H_

#include <curl/curl.h>

#include "core/scoped_generic.h"

namespace emberfall::curl {

using Easy = ScopedGeneric<FreeFunctionTraits<CURL*, &curl_easy_cleanup>>;
using Multi = ScopedGeneric<FreeFunctionTraits<CURLM*, &curl_multi_cleanup>>;
// A header list; appending may move its head, so a list grows through
// Append.
using HeaderList = ScopedGeneric<FreeFunctionTraits<curl_slist*, &curl_slist_free_all>>;

// Appends |line| to |list|. False when libcurl could not allocate it; the
// list is then left as it was.
inline bool Append(HeaderList& list, const char* line) {
  curl_slist* head = curl_slist_append(list.get(), line);
  if (head == nullptr) return false;
  list.release();  // the same list when it had a head, now grown
  list.reset(head);
  return true;
}

}  // namespace emberfall::curl

#endif  // EMBERFALL_NET_CURL_HANDLES_POSIX_H_
