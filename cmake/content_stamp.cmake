# Writes the SHA-256 of FILE to STAMP, touching STAMP only when it changes, so
# that a step depending on STAMP follows FILE's content, not its date (a file
# replaced with `cp -p` may be older than what was made from it).
#   cmake -DFILE=... -DSTAMP=... -P content_stamp.cmake
cmake_minimum_required(VERSION 3.25)
file(SHA256 "${FILE}" hash)
file(CONFIGURE OUTPUT "${STAMP}" CONTENT "${hash}\n")
