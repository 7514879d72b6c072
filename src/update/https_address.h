// Whether an address names HTTPS: the test a transfer applies to where its answer came from.
#pragma once

// 1 when url begins with "https://" in any mix of cases, else 0 (null included).
int IsHttpsAddress(const char* url);
