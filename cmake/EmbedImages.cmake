# Turns the two firmware images into a C++ source of two constant byte arrays, at configure time, so that no
# host tool has to be built first and every generator works. An image that breaks the rules the program relies
# on stops the configure with a message naming the file and the fault.

set(FWU_MAIN_IMAGE_SIZE 524288)
set(FWU_SECOND_IMAGE_SIZE 65536)

# Reads the 32-bit little-endian value at offset of file into out_var (as a decimal number).
function(_fwu_read_u32le file offset out_var)
  file(READ "${file}" hex OFFSET ${offset} LIMIT 4 HEX)
  string(SUBSTRING "${hex}" 0 2 b0)
  string(SUBSTRING "${hex}" 2 2 b1)
  string(SUBSTRING "${hex}" 4 2 b2)
  string(SUBSTRING "${hex}" 6 2 b3)
  math(EXPR value "0x${b3}${b2}${b1}${b0}" OUTPUT_FORMAT DECIMAL)
  set(${out_var} ${value} PARENT_SCOPE)
endfunction()

function(_fwu_check_size file expected)
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "Firmware image ${file}: file not found")
  endif()
  file(SIZE "${file}" size)
  if(NOT size EQUAL expected)
    message(FATAL_ERROR "Firmware image ${file}: ${size} bytes, but it must be exactly ${expected} bytes")
  endif()
endfunction()

# The main image's text pointer at pointer_offset must hold a controller address in 0xFFF80000-0xFFFFFFFF, and
# the text there must end with a NUL inside the image (an erased first byte, 0xFF, counts as no text).
function(_fwu_check_text_pointer file bytes pointer_offset what)
  _fwu_read_u32le("${file}" ${pointer_offset} address)
  math(EXPR hex_address "${address}" OUTPUT_FORMAT HEXADECIMAL)
  string(SUBSTRING "${hex_address}" 2 -1 digits)
  string(TOUPPER "${digits}" digits)
  set(hex_address "0x${digits}")
  # CMake's math is 64-bit, so the address compares as an unsigned 32-bit value.
  if(address LESS 4294443008)  # 0xFFF80000
    message(FATAL_ERROR
      "Firmware image ${file}: the ${what} pointer ${hex_address} lies outside 0xFFF80000-0xFFFFFFFF")
  endif()
  math(EXPR offset "${address} - 4294443008")
  # bytes holds "0xNN," for every image byte: five characters a byte, so a match of "0x00," is always aligned.
  math(EXPR start "${offset} * 5")
  string(SUBSTRING "${bytes}" ${start} 5 first)
  if(first STREQUAL "0xff,")
    return()
  endif()
  string(SUBSTRING "${bytes}" ${start} -1 rest)
  string(FIND "${rest}" "0x00," nul)
  if(nul EQUAL -1)
    message(FATAL_ERROR "Firmware image ${file}: the ${what} text at ${hex_address} has no NUL inside the image")
  endif()
endfunction()

# Reads file as "0xNN," per byte into out_var.
function(_fwu_image_bytes file out_var)
  file(READ "${file}" hex HEX)
  string(REGEX REPLACE "(..)" "0x\\1," bytes "${hex}")
  set(${out_var} "${bytes}" PARENT_SCOPE)
endfunction()

# fwu_embed_images(<main.bin> <second.bin> <output.cpp>)
function(fwu_embed_images main_image second_image output)
  _fwu_check_size("${main_image}" ${FWU_MAIN_IMAGE_SIZE})
  _fwu_check_size("${second_image}" ${FWU_SECOND_IMAGE_SIZE})
  _fwu_image_bytes("${main_image}" main_bytes)
  _fwu_check_text_pointer("${main_image}" "${main_bytes}" 4112 "model-name")  # 0x1010
  _fwu_check_text_pointer("${main_image}" "${main_bytes}" 4116 "version")     # 0x1014
  _fwu_image_bytes("${second_image}" second_bytes)

  # One line per 32 bytes keeps the generated source readable in an editor.
  string(REPEAT "0x..," 32 line)
  string(REGEX REPLACE "(${line})" "\\1\n" main_bytes "${main_bytes}")
  string(REGEX REPLACE "(${line})" "\\1\n" second_bytes "${second_bytes}")
  set(content "// Generated from ${main_image} and ${second_image}; do not edit.
#include \"update/embedded_images.h\"

namespace fwu {

const std::uint8_t kEmbeddedMainImage[${FWU_MAIN_IMAGE_SIZE}] = {
${main_bytes}};

const std::uint8_t kEmbeddedSecondImage[${FWU_SECOND_IMAGE_SIZE}] = {
${second_bytes}};

}  // namespace fwu
")
  # Rewrite only on change, so a re-configure does not rebuild the program.
  if(EXISTS "${output}")
    file(READ "${output}" old)
  endif()
  if(NOT old STREQUAL content)
    file(WRITE "${output}" "${content}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${main_image}" "${second_image}")
endfunction()
