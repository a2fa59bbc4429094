#pragma once
// Bytes held through the global operator new, counted exactly on every
// thread, whatever the C allocator keeps cached. -1 where the count is not
// kept (the sanitizer build has an operator new of its own).

namespace quorvel::test {

long long LiveNewBytes();

}  // namespace quorvel::test
