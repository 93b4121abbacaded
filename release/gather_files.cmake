# Copies the two programs under the names users see, the text for them with
# Windows line ends, and writes their SHA-256 checksums in the form
# "sha256sum -c" reads.
file(MAKE_DIRECTORY ${OUT})
file(COPY_FILE ${X86} ${OUT}/tolvanik-x86.exe ONLY_IF_DIFFERENT)
file(COPY_FILE ${X64} ${OUT}/tolvanik-x64.exe ONLY_IF_DIFFERENT)
file(READ ${README} text)
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT}/README.txt "${text}")
set(sums "")
foreach(name tolvanik-x86.exe tolvanik-x64.exe README.txt)
  file(SHA256 ${OUT}/${name} hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE ${OUT}/SHA256SUMS.txt "${sums}")
