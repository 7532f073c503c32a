#include "media/ff_utils.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <algorithm>
#include <iterator>

#include "media/ff_api.h"

namespace qv {

namespace {

struct TErrorText {
  int Code;
  const char* Text;
};

// The texts the program has always shown, keyed by the historic (errno-style) codes.
const TErrorText kErrorTexts[] = {
    {-1, "Operation not permitted"},
    {-2, "No such file or directory"},
    {-3, "No such process"},
    {-4, "Interrupted function call"},
    {-5, "I/O error"},
    {-6, "No such device or address"},
    {-7, "Argument list too long"},
    {-8, "Exec format error"},
    {-9, "Bad file number"},
    {-10, "No child processes"},
    {-11, "Resource temporarily unavailable / Try again"},
    {-12, "Not enough space / Out of memory"},
    {-13, "Permission denied"},
    {-14, "Bad address"},
    {-15, "Block device required"},
    {-16, "Device or resource busy"},
    {-17, "File exists"},
    {-18, "Cross-device link"},
    {-19, "No such device"},
    {-20, "Not a directory"},
    {-21, "Is a directory"},
    {-22, "Invalid argument / Invalid data found when processing input"},
    {-23, "Too many open files in system / File table overflow"},
    {-24, "Too many open files"},
    {-25, "Inappropriate I/O control operation / Not a typewriter"},
    {-26, "Text file busy"},
    {-27, "File too large"},
    {-28, "No space left on device"},
    {-29, "Illegal seek"},
    {-30, "Read-only file system"},
    {-31, "Too many links"},
    {-32, "End of file"},
    {-33, "Number syntax expected in filename"},
    {-34, "Math result not representable"},
    {-35, "Resource deadlock would occur"},
    {-36, "File name too long"},
    {-37, "No record locks available"},
    {-38, "Function not implemented"},
    {-39, "Directory not empty"},
    {-40, "Too many symbolic links encountered"},
    {-42, "Unknown format"},
    {-43, "Identifier removed"},
    {-44, "Channel number out of range"},
    {-45, "Level 2 not synchronized"},
    {-46, "Level 3 halted"},
    {-47, "Level 3 reset"},
    {-48, "Link number out of range"},
    {-49, "Protocol driver not attached"},
    {-50, "No CSI structure available"},
    {-51, "Level 2 halted"},
    {-52, "Invalid exchange"},
    {-53, "Invalid request descriptor"},
    {-54, "Exchange full"},
    {-55, "No anode"},
    {-56, "Invalid request code"},
    {-57, "Invalid slot"},
    {-59, "Bad font file format"},
    {-60, "Device not a stream"},
    {-61, "No data available"},
    {-62, "Timer expired"},
    {-63, "Out of streams resources"},
    {-64, "Machine is not on the network"},
    {-65, "Package not installed"},
    {-66, "Object is remote"},
    {-67, "Link has been severed"},
    {-68, "Advertise error"},
    {-69, "Srmount error"},
    {-70, "Communication error on send"},
    {-71, "Protocol error"},
    {-72, "Multihop attempted"},
    {-73, "RFS specific error"},
    {-74, "Not a data message"},
    {-75, "Value too large for defined data type"},
    {-76, "Name not unique on network"},
    {-77, "File descriptor in bad state"},
    {-78, "Remote address changed"},
    {-79, "Can not access a needed shared library"},
    {-80, "Accessing a corrupted shared library"},
    {-81, ".lib section in a.out corrupted"},
    {-82, "Attempting to link in too many shared libraries"},
    {-83, "Cannot exec a shared library directly"},
    {-84, "Illegal byte sequence"},
    {-85, "Interrupted system call should be restarted"},
    {-86, "Streams pipe error"},
    {-87, "Too many users"},
    {-88, "Socket operation on non-socket"},
    {-89, "Destination address required"},
    {-90, "Message too long"},
    {-91, "Protocol wrong type for socket"},
    {-92, "Protocol not available"},
    {-93, "Protocol not supported"},
    {-94, "Socket type not supported"},
    {-95, "Operation not supported on transport endpoint"},
    {-96, "Protocol family not supported"},
    {-97, "Address family not supported by protocol"},
    {-98, "Address already in use"},
    {-99, "Cannot assign requested address"},
    {-100, "Network is down"},
    {-101, "Network is unreachable"},
    {-102, "Network dropped connection because of reset"},
    {-103, "Software caused connection abort"},
    {-104, "Connection reset by peer"},
    {-105, "No buffer space available"},
    {-106, "Transport endpoint is already connected"},
    {-107, "Transport endpoint is not connected"},
    {-108, "Cannot send after transport endpoint shutdown"},
    {-109, "Too many references: cannot splice"},
    {-110, "Connection timed out"},
    {-111, "Connection refused"},
    {-112, "Host is down"},
    {-113, "No route to host"},
    {-114, "Operation already in progress"},
    {-115, "Operation now in progress"},
    {-116, "Stale NFS file handle"},
    {-117, "Structure needs cleaning"},
    {-118, "Not a XENIX named type file"},
    {-119, "No XENIX semaphores available"},
    {-120, "Is a named type file"},
    {-121, "Remote I/O error"},
    {-122, "Quota exceeded"},
    {-123, "No medium found"},
    {-124, "Wrong medium type"},
    {-125, "Operation Canceled"},
    {-126, "Required key not available"},
    {-127, "Key has expired"},
    {-128, "Key has been revoked"},
    {-129, "Key was rejected by service"},
    {-130, "Owner died"},
    {-131, "State not recoverable"},
    // Socket errors.
    {-10004, "Interrupted function call"},
    {-10009, "Bad file number"},
    {-10013, "Permission denied"},
    {-10014, "Bad address"},
    {-10022, "Invalid argument / Invalid data found when processing input"},
    {-10024, "Too many open files"},
    {-10035, "WSAEWOULDBLOCK"},
    {-10036, "Operation now in progress"},
    {-10037, "Operation already in progress"},
    {-10038, "Socket operation on non-socket"},
    {-10039, "Destination address required"},
    {-10040, "Message too long"},
    {-10041, "Protocol wrong type for socket"},
    {-10042, "Protocol not available"},
    {-10043, "Protocol not supported"},
    {-10044, "Socket type not supported"},
    {-10045, "Operation not supported on transport endpoint"},
    {-10046, "Protocol family not supported"},
    {-10047, "Address family not supported by protocol"},
    {-10048, "Address already in use"},
    {-10049, "Cannot assign requested address"},
    {-10050, "Network is down"},
    {-10051, "Network is unreachable"},
    {-10052, "Network dropped connection because of reset"},
    {-10053, "Software caused connection abort"},
    {-10054, "Connection reset by peer"},
    {-10055, "No buffer space available"},
    {-10056, "Transport endpoint is already connected"},
    {-10057, "Transport endpoint is not connected"},
    {-10058, "Cannot send after transport endpoint shutdown"},
    {-10059, "Too many references: cannot splice"},
    {-10060, "Connection timed out"},
    {-10061, "Connection refused"},
    {-10062, "Too many symbolic links encountered"},
    {-10063, "File name too long"},
    {-10064, "Host is down"},
    {-10065, "No route to host"},
    {-10066, "Directory not empty"},
    {-10067, "WSAEPROCLIM"},
    {-10068, "Too many users"},
    {-10069, "Quota exceeded"},
    {-10070, "Stale NFS file handle"},
    {-10071, "Object is remote"},
    {-10091, "WSASYSNOTREADY"},
    {-10092, "WSAVERNOTSUPPORTED"},
    {-10093, "WSANOTINITIALISED"},
    {-10101, "WSAEDISCON"},
    {-10102, "WSAENOMORE"},
    {-10103, "WSAECANCELLED"},
    {-10104, "WSAEINVALIDPROCTABLE"},
    {-10105, "WSAEINVALIDPROVIDER"},
    {-10106, "WSAEPROVIDERFAILEDINIT"},
    {-10107, "WSASYSCALLFAILURE"},
    {-10108, "WSASERVICE_NOT_FOUND"},
    {-10109, "WSATYPE_NOT_FOUND"},
    {-10110, "WSA_E_NO_MORE"},
    {-10111, "WSA_E_CANCELLED"},
    {-10112, "WSAEREFUSED"},
    {-11001, "WSAHOST_NOT_FOUND"},
    {-11002, "WSATRY_AGAIN"},
    {-11003, "WSANO_RECOVERY"},
    {-11004, "WSANO_DATA"},
    // Codes made of four-character tags.
    {AVERROR_DECODER_NOT_FOUND, "Decoder not found"},
    {AVERROR_ENCODER_NOT_FOUND, "Encoder not found"},
    {AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg"},
    {AVERROR_BSF_NOT_FOUND, "Bitstream filter not found"},
    {AVERROR_FILTER_NOT_FOUND, "Filter not found"},
    {AVERROR_DEMUXER_NOT_FOUND, "Demuxer not found"},
    {AVERROR_PROTOCOL_NOT_FOUND, "Protocol not found"},
    {AVERROR_STREAM_NOT_FOUND, "Stream not found"},
    {AVERROR_MUXER_NOT_FOUND, "Muxer not found"},
};

// Today's libraries return tagged codes where the older ones returned errno-style codes; users
// keep seeing the text they know.
int HistoricCode(int code) {
  switch (code) {
    case AVERROR_EOF:
      return -32;  // end of file used to be reported as a broken pipe
    case AVERROR_INVALIDDATA:
    case AVERROR_UNKNOWN:
      return -22;
    case AVERROR_OPTION_NOT_FOUND:
      return -2;
    default:
      return code;
  }
}

}  // namespace

std::string ErrorCodeText(const std::string& prefix, int code) {
  const int key = HistoricCode(code);
  for (const TErrorText& e : kErrorTexts)
    if (e.Code == key) return prefix + ": " + e.Text;
  char buf[64];
  std::snprintf(buf, sizeof buf, "Error number %d occurred", code);
  return prefix + ": " + buf;
}

std::string TimeToText(std::int64_t t) {
  if (t == AV_NOPTS_VALUE) return "N/A";
  const std::int64_t seconds = t / 1000000;
  const std::int64_t hours = seconds / 3600;
  const std::int64_t minutes = (seconds / 60) % 60;
  const std::int64_t secs = seconds % 60;
  const std::int64_t millis = (t % 1000000) * 1000 / 1000000;
  char buf[80];
  std::snprintf(buf, sizeof buf, "%.2lld:%.2lld:%.2lld.%.3lld", static_cast<long long>(hours),
                static_cast<long long>(minutes), static_cast<long long>(secs), static_cast<long long>(millis));
  return buf;
}

std::string LengthText(std::int64_t us) {
  const long long seconds = (std::max<std::int64_t>(us, 0) + 500000) / 1000000;
  char buf[48];
  if (seconds < 3600)
    std::snprintf(buf, sizeof buf, "%lld:%.2lld", seconds / 60, seconds % 60);
  else
    std::snprintf(buf, sizeof buf, "%lld:%.2lld:%.2lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return buf;
}

std::string MediaTypeName(int type) {
  switch (type) {
    case 0:
      return "Video";
    case 1:
      return "Audio";
    case 2:
      return "Data";
    case 3:
      return "Subtitle";
    case 4:
      return "Attachment";
    default:
      return "Unknown";
  }
}

int ReadFile(const std::string& fileName, TAvMemPtr<std::uint8_t>& buffer, int& size, long maxBytes) {
  buffer.reset();
  size = 0;
  // A folder opens for reading here but has no bytes to give.
  struct stat st;
  if (::stat(fileName.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return -1;
  TFilePtr f(std::fopen(fileName.c_str(), "rb"));
  if (!f) return -1;
  long length = -1;
  if (std::fseek(f.get(), 0, SEEK_END) == 0) length = std::ftell(f.get());
  // A file that does not fit an int cannot be described by the size we hand back.
  if (length < 0 || std::fseek(f.get(), 0, SEEK_SET) != 0) return -1;
  if (length > maxBytes) return -27;
  if (length >= INT_MAX) return -12;
  TAvMemPtr<std::uint8_t> data(static_cast<std::uint8_t*>(ff::av_malloc(static_cast<size_t>(length) + 1)));
  if (!data) return -12;
  const size_t got = std::fread(data.get(), 1, static_cast<size_t>(length), f.get());
  data.get()[got] = 0;
  buffer = std::move(data);
  size = static_cast<int>(got) + 1;
  return 0;
}

void NewPtsCorrection(TPtsCorrection& state) {
  state.FaultyPts = 0;
  state.FaultyDts = 0;
  state.LastPts = INT64_MIN;
  state.LastDts = INT64_MIN;
}

std::int64_t GuessCorrectPts(TPtsCorrection& state, std::int64_t reorderedPts, std::int64_t dts) {
  const bool hasDts = dts != AV_NOPTS_VALUE;
  const bool hasPts = reorderedPts != AV_NOPTS_VALUE;
  if (hasDts) {
    if (dts <= state.LastDts) ++state.FaultyDts;
    state.LastDts = dts;
  }
  if (hasPts) {
    if (reorderedPts <= state.LastPts) ++state.FaultyPts;
    state.LastPts = reorderedPts;
  }
  if (hasPts && (state.FaultyPts <= state.FaultyDts || !hasDts)) return reorderedPts;
  return dts;
}

}  // namespace qv
