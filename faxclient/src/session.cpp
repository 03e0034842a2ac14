#include "session.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "protocol.h"
#include "transfer.h"

namespace telvor::client {
namespace {

constexpr std::uint16_t server_port = 4559;

// The job settings sendfax uses, and sendfax_job for a zero (or null) one.
constexpr const char* kDefaultModem = "ttyS0";
constexpr std::uint32_t kDefaultPageWidth = 209;   // A4, in millimetres
constexpr std::uint32_t kDefaultPageLength = 296;  // A4, in millimetres
constexpr std::uint32_t kDefaultResolution = kHighResolution;

constexpr const char* login_commands[] = {"USER ", "PASS ", "TYPE I", "PASV", "STOT"};
constexpr std::size_t kUserCommand = 0;
constexpr std::size_t kPasswordCommand = 1;
constexpr std::size_t kPassiveCommand = 3;
constexpr std::size_t kStoreCommand = 4;

// What a job line carries behind its command text.
enum class JobValue {
  kNone,
  kFaxNumber,
  kMail,
  kModem,
  kUser,
  kResolution,
  kPageWidth,
  kPageLength,
  kDocument,
  kInfo,
  kMaxDials
};

struct JobCommand {
  const char* command;
  JobValue value;
};

constexpr JobCommand job_commands[] = {
    {"JNEW", JobValue::kNone},
    {"FORM PS", JobValue::kNone},
    {"TZONE LOCAL", JobValue::kNone},
    {"JPARM DIALSTRING ", JobValue::kFaxNumber},
    {"JPARM NOTIFYADDR ", JobValue::kMail},
    {"JPARM MODEM ", JobValue::kModem},
    {"JPARM FROMUSER ", JobValue::kUser},
    {"JPARM LASTTIME 000259", JobValue::kNone},
    {"JPARM MAXDIALS 1", JobValue::kNone},
    {"JPARM MAXTRIES 5", JobValue::kNone},
    {"JPARM SCHEDPRI 127", JobValue::kNone},
    {"JPARM VRES ", JobValue::kResolution},
    {"JPARM PAGEWIDTH ", JobValue::kPageWidth},
    {"JPARM PAGELENGTH ", JobValue::kPageLength},
    {"JPARM NOTIFY DONE+REQUEUE", JobValue::kNone},
    {"JPARM PAGECHOP none", JobValue::kNone},
    {"JPARM CHOPTHRESHOLD 3", JobValue::kNone},
    {"JPARM DOCUMENT ", JobValue::kDocument},
    {"JPARM JOBINFO ", JobValue::kInfo},
    {"JPARM MAXDIALS ", JobValue::kMaxDials},
    {"JSUBM", JobValue::kNone},
};

constexpr std::size_t LongestCommand() {
  std::size_t longest = 0;
  for (const char* command : login_commands) {
    longest = std::max(longest, std::char_traits<char>::length(command));
  }
  for (const JobCommand& entry : job_commands) {
    longest = std::max(longest, std::char_traits<char>::length(entry.command));
  }
  return longest;
}

// A line holds the longest command, the longest value it may carry, the line
// end and a terminator. Server file names are shorter than arguments.
static_assert(kMaxServerFileName <= kMaxArgumentLength);
constexpr std::size_t kLineCapacity = LongestCommand() + kMaxArgumentLength + sizeof "\n";

// Log texts.
constexpr char kLogStart[] = "sendfax log start - debug mode\n";
constexpr char kLogModem[] = "modem: %s\n";
constexpr char kLogPageWidth[] = "page width: %u\n";
constexpr char kLogPageLength[] = "page length: %u\n";
constexpr char kLogResolution[] = "resolution: %u\n";
constexpr char kLogServerPort[] = "server ip port: %d\n";
constexpr char kLogServerIp[] = "server ip: %s\n";
constexpr char kLogUser[] = "user: %s\n";
// The password never reaches the log: it is the one secret the call holds.
constexpr char kLogPassword[] = "password: ******\n";
constexpr char kLogFaxNumber[] = "fax number to: %s\n";
constexpr char kLogMail[] = "mail: %s\n";
constexpr char kLogInfo[] = "info: %s\n";
constexpr char kLogFilename[] = "filename: %s\n";
constexpr char kLogMaxDials[] = "maxdials: %d\n";
constexpr char kLogInvalidParam[] = "\ninvalid param size\n";
constexpr char kLogParamOk[] = "\nparam size - ok\n";
constexpr char kLogStartupError[] = "error WSAstarup \n";
constexpr char kLogStartupOk[] = "WSAstarup - ok\n";
constexpr char kLogConnectError[] = "connect error %d\n";
constexpr char kLogConnectOk[] = "connect - ok\n";
constexpr char kLogSend[] = "send-->%s\n";
constexpr char kLogRecv[] = "recv<--%s\n";
constexpr char kLogPassive[] = "passiv-ip:%s\npassiv-port:%i\n";
constexpr char kLogDataConnectError[] = "data connect error %d\n";
constexpr char kLogDataConnectOk[] = "data connect - ok\n";
constexpr char kLogOpenError[] = "open ps file - error\n";
constexpr char kLogOpenOk[] = "open ps file - ok\n";
constexpr char kLogNotPostScript[] = "ps file - NOT postscript format!!!\n";
constexpr char kLogPostScriptOk[] = "ps file - postscript format ok\n";
constexpr char kLogSentBlocks[] = "send data - %lld blocks, %d B\n";
constexpr char kLogSentBytes[] = "send data - %d B\n";
constexpr char kLogServerFile[] = "server tmp file: %s\n";
constexpr char kLogServerFileError[] = "server tmp file - error\n";
constexpr char kLogRecvTimeout[] = "recv - timeout\n";
constexpr char kLogSendTimeout[] = "send - timeout\n";
constexpr char kLogDataSendTimeout[] = "send data - timeout\n";
constexpr char kLogLoginRefused[] = "login - refused\n";
constexpr char kLogDataSendError[] = "send data - error %d\n";
constexpr char kLogReadError[] = "read ps file - error\n";
constexpr char kLogJobId[] = "job id: %.*s\n";
constexpr char kLogJobNotSubmitted[] = "job not submitted\n";

const char* OrEmpty(const char* text) { return text != nullptr ? text : ""; }

// A job the caller built for another layout of telvor_job is never read.
bool JobSizeFits(const telvor_job* job) { return job == nullptr || job->size == sizeof *job; }

// The settings a call uses: the job's, where it sets them, else the defaults.
struct Settings {
  const char* modem = kDefaultModem;
  std::uint32_t page_width = kDefaultPageWidth;
  std::uint32_t page_length = kDefaultPageLength;
  std::uint32_t resolution = kDefaultResolution;
};

Settings SettingsOf(const telvor_job* job) {
  Settings settings;
  if (job == nullptr || !JobSizeFits(job)) return settings;
  if (job->modem != nullptr && job->modem[0] != '\0') settings.modem = job->modem;
  if (job->page_width != 0) settings.page_width = job->page_width;
  if (job->page_length != 0) settings.page_length = job->page_length;
  if (job->vertical_resolution != 0) settings.resolution = job->vertical_resolution;
  return settings;
}

// The log's folder the caller named, or null: the current directory.
const char* LogFolderOf(const telvor_job* job) {
  if (job == nullptr || !JobSizeFits(job) || job->log_folder == nullptr) return nullptr;
  return job->log_folder[0] != '\0' ? job->log_folder : nullptr;
}

// Room for any 32-bit number as decimal text.
using NumberText = char[std::numeric_limits<std::uint32_t>::digits10 + 2];

void FormatNumber(NumberText& text, std::uint32_t number) {
  std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(number));
}

class Call {
 public:
  Call(Platform& platform, const SendRequest& request, int time_limit_ms)
      : platform_(platform),
        request_(request),
        time_limit_ms_(time_limit_ms),
        settings_(SettingsOf(request.job)) {}

  std::int32_t Run();

 private:
  void WriteHeader();
  bool ArgumentsAcceptable() const;
  // Sends one command line and logs it; false when the server took none of
  // it within the time limit.
  bool SendLine(const char* command, const char* value);
  // Reads and logs one whole reply; false when it did not end in time.
  bool ReadReply();
  // Sends the document from `start` on: TELVOR_SENT when all of it went out,
  // otherwise the call's result.
  std::int32_t Upload(long start);
  // Sends one piece of the upload: TELVOR_SENT, or the call's result.
  std::int32_t SendData(const char* data, std::size_t size);
  const char* JobValueText(JobValue value) const;
  // Releases what is open, in the order log, data connection, document,
  // control connection, sockets library, and returns `result`.
  std::int32_t Finish(std::int32_t result);

  Platform& platform_;
  const SendRequest& request_;
  const int time_limit_ms_;
  const Settings settings_;

  std::FILE* log_ = nullptr;
  bool started_ = false;
  SocketHandle control_ = kNoSocket;
  SocketHandle data_ = kNoSocket;
  std::FILE* document_ = nullptr;

  ReplyReader reply_buffer;
  char line_buffer[kLineCapacity] = {};
  char wire_buffer[2 * kLineCapacity] = {};  // the line with every 0xFF doubled
  char block_buffer[kBlockSize] = {};
  PassiveAddress passive_address;
  std::uint16_t passive_port = 0;
  char server_file_name[kMaxServerFileName + 1] = {};
  char maxdials_text[2] = {};
  NumberText resolution_text = {};
  NumberText page_width_text = {};
  NumberText page_length_text = {};
  int last_send_count_ = 0;  // what the latest send reported, for the upload's log line
};

std::int32_t Call::Run() {
  // A log that cannot be written never stops a fax.
  log_ = platform_.OpenLog(LogFolderOf(request_.job));
  if (log_ == nullptr) log_ = platform_.OpenDiscard();
  if (log_ == nullptr) return TELVOR_ERR_LOG;
  WriteHeader();
  if (!ArgumentsAcceptable()) {
    std::fputs(kLogInvalidParam, log_);
    return Finish(TELVOR_ERR_ARGUMENT);
  }
  std::fputs(kLogParamOk, log_);
  maxdials_text[0] = static_cast<char>('0' + ClampMaxDials(request_.maxdials));
  FormatNumber(resolution_text, settings_.resolution);
  FormatNumber(page_width_text, settings_.page_width);
  FormatNumber(page_length_text, settings_.page_length);

  if (!platform_.StartSockets()) {
    std::fputs(kLogStartupError, log_);
    return Finish(TELVOR_ERR_SOCKETS);
  }
  started_ = true;
  std::fputs(kLogStartupOk, log_);

  control_ = platform_.OpenSocket();
  if (control_ == kNoSocket) return Finish(TELVOR_ERR_CONTROL_SOCKET);
  if (!ConnectWithin(platform_, control_, OrEmpty(request_.server_ip), server_port,
                     time_limit_ms_)) {
    std::fprintf(log_, kLogConnectError, platform_.LastError());
    return Finish(TELVOR_ERR_CONNECT);
  }
  std::fputs(kLogConnectOk, log_);

  if (!ReadReply()) return Finish(TELVOR_ERR_TIMEOUT);  // greeting
  int user_code = 0;
  for (std::size_t i = 0; i < std::size(login_commands); ++i) {
    const char* value = i == kUserCommand       ? OrEmpty(request_.user)
                        : i == kPasswordCommand ? OrEmpty(request_.password)
                                                : "";
    if (!SendLine(login_commands[i], value)) return Finish(TELVOR_ERR_TIMEOUT);
    if (i == kStoreCommand) {
      // The server answers "STOT" once the data connection opens; that reply
      // is read after the upload.
      std::fprintf(log_, kLogRecv, "");
      continue;
    }
    if (!ReadReply()) return Finish(TELVOR_ERR_TIMEOUT);
    if (i == kUserCommand) user_code = ReplyCode(reply_buffer.TextView());
    // Nothing after a refused login can succeed.
    if (i == kPasswordCommand && !LoginAccepted(user_code, ReplyCode(reply_buffer.TextView()))) {
      std::fputs(kLogLoginRefused, log_);
      return Finish(TELVOR_ERR_LOGIN);
    }
    if (i == kPassiveCommand) {
      passive_address = PassiveAddress{};
      parse_passive_reply(passive_address, passive_port, reply_buffer.TextView());
      std::fprintf(log_, kLogPassive, passive_address.text, static_cast<int>(passive_port));
    }
  }

  data_ = platform_.OpenSocket();
  if (data_ == kNoSocket) return Finish(TELVOR_ERR_DATA_SOCKET);
  if (!ConnectWithin(platform_, data_, passive_address.text, passive_port, time_limit_ms_)) {
    std::fprintf(log_, kLogDataConnectError, platform_.LastError());
    return Finish(TELVOR_ERR_DATA_CONNECT);
  }
  std::fputs(kLogDataConnectOk, log_);

  document_ = platform_.OpenDocument(OrEmpty(request_.filename));
  if (document_ == nullptr) {
    std::fputs(kLogOpenError, log_);
    return Finish(TELVOR_ERR_FILE_OPEN);
  }
  std::fputs(kLogOpenOk, log_);
  const std::size_t head = std::fread(block_buffer, 1, sizeof block_buffer, document_);
  if (std::ferror(document_)) {
    std::fputs(kLogReadError, log_);
    return Finish(TELVOR_ERR_FILE_READ);
  }
  const int start = FindPostScriptMarker(block_buffer, head);
  if (start < 0) {
    std::fputs(kLogNotPostScript, log_);
    return Finish(TELVOR_ERR_NOT_POSTSCRIPT);
  }
  std::fputs(kLogPostScriptOk, log_);
  // A part of the document must never become a job.
  if (const std::int32_t uploaded = Upload(start); uploaded != TELVOR_SENT) return Finish(uploaded);
  platform_.CloseSocket(data_);  // the close ends the upload
  data_ = kNoSocket;
  std::fclose(document_);
  document_ = nullptr;

  // Two replies follow the upload; the second reports it stored and names
  // the file.
  if (!ReadReply() || !ReadReply()) return Finish(TELVOR_ERR_TIMEOUT);
  if (ReplyCode(reply_buffer.TextView()) / 100 != 2 ||
      !ExtractServerFileName(reply_buffer.TextView(), server_file_name)) {
    // Without the stored document there is nothing to submit.
    std::fputs(kLogServerFileError, log_);
    return Finish(TELVOR_ERR_SERVER_FILE);
  }
  std::fprintf(log_, kLogServerFile, server_file_name);

  for (const JobCommand& entry : job_commands) {
    if (!SendLine(entry.command, JobValueText(entry.value)) || !ReadReply()) {
      return Finish(TELVOR_ERR_TIMEOUT);
    }
  }
  // The reply to "JSUBM" alone tells whether the job exists.
  if (ReplyCode(reply_buffer.TextView()) / 100 != 2) {
    std::fputs(kLogJobNotSubmitted, log_);
    return Finish(TELVOR_ERR_JOB_REFUSED);
  }
  const std::string_view id = SubmittedJobId(reply_buffer.TextView());
  if (!id.empty()) std::fprintf(log_, kLogJobId, static_cast<int>(id.size()), id.data());
  if (request_.job != nullptr) request_.job->job_number = JobNumber(id);
  return Finish(TELVOR_SENT);
}

void Call::WriteHeader() {
  std::fputs(kLogStart, log_);
  std::fprintf(log_, kLogModem, settings_.modem);
  std::fprintf(log_, kLogPageWidth, static_cast<unsigned>(settings_.page_width));
  std::fprintf(log_, kLogPageLength, static_cast<unsigned>(settings_.page_length));
  std::fprintf(log_, kLogResolution, static_cast<unsigned>(settings_.resolution));
  std::fprintf(log_, kLogServerPort, static_cast<int>(server_port));
  std::fprintf(log_, kLogServerIp, OrEmpty(request_.server_ip));
  std::fprintf(log_, kLogUser, OrEmpty(request_.user));
  std::fputs(kLogPassword, log_);
  std::fprintf(log_, kLogFaxNumber, OrEmpty(request_.fax_number));
  std::fprintf(log_, kLogMail, OrEmpty(request_.mail));
  std::fprintf(log_, kLogInfo, OrEmpty(request_.info));
  std::fprintf(log_, kLogFilename, OrEmpty(request_.filename));
  std::fprintf(log_, kLogMaxDials, static_cast<int>(request_.maxdials));
}

bool Call::ArgumentsAcceptable() const {
  for (const char* argument :
       {request_.user, request_.password, request_.fax_number, request_.mail, request_.info}) {
    if (!ArgumentAcceptable(OrEmpty(argument))) return false;
  }
  return JobSizeFits(request_.job) && ModemNameAcceptable(settings_.modem) &&
         PageSizeAcceptable(settings_.page_width) && PageSizeAcceptable(settings_.page_length) &&
         ResolutionAcceptable(settings_.resolution);
}

bool Call::SendLine(const char* command, const char* value) {
  std::memset(line_buffer, 0, sizeof line_buffer);
  const int length = std::snprintf(line_buffer, sizeof line_buffer, "%s%s\n", command, value);
  const std::size_t size =
      std::min(static_cast<std::size_t>(std::max(length, 0)), sizeof line_buffer - 1);
  const std::size_t wire_size = TelnetWireForm({line_buffer, size}, wire_buffer);
  const IoStatus status = SendAll(platform_, control_, wire_buffer, wire_size, time_limit_ms_);
  last_send_count_ = status == IoStatus::kOk ? static_cast<int>(size) : -1;
  std::fprintf(log_, kLogSend, line_buffer);
  if (status == IoStatus::kTimeout) {
    std::fputs(kLogSendTimeout, log_);
    return false;
  }
  return true;
}

bool Call::ReadReply() {
  reply_buffer.BeginReply();
  const std::int64_t deadline = platform_.NowMs() + time_limit_ms_;
  while (!reply_buffer.Advance()) {
    std::size_t received = 0;
    const IoStatus status = ReceiveBy(platform_, control_, reply_buffer.ReceiveSpace(),
                                      kReceiveChunk, deadline, &received);
    if (status == IoStatus::kTimeout) {
      std::fputs(kLogRecvTimeout, log_);
      return false;
    }
    // A closed or failed connection ends the reply with what has arrived.
    if (status != IoStatus::kOk) break;
    reply_buffer.Received(received);
  }
  std::fprintf(log_, kLogRecv, reply_buffer.Text());
  return true;
}

std::int32_t Call::Upload(long start) {
  std::fseek(document_, start, SEEK_SET);
  long long blocks = 0;
  std::size_t remaining_bytes = 0;
  for (;;) {
    const std::size_t got = std::fread(block_buffer, 1, sizeof block_buffer, document_);
    if (got < sizeof block_buffer) {
      if (std::ferror(document_)) {
        std::fputs(kLogReadError, log_);
        return TELVOR_ERR_FILE_READ;
      }
      remaining_bytes = got;
      break;
    }
    if (const std::int32_t sent = SendData(block_buffer, got); sent != TELVOR_SENT) return sent;
    last_send_count_ = static_cast<int>(got);
    ++blocks;
  }
  std::fprintf(log_, kLogSentBlocks, blocks, last_send_count_);
  for (std::size_t i = 0; i < remaining_bytes; ++i) {
    if (const std::int32_t sent = SendData(block_buffer + i, 1); sent != TELVOR_SENT) return sent;
  }
  std::fprintf(log_, kLogSentBytes, static_cast<int>(remaining_bytes));
  return TELVOR_SENT;
}

std::int32_t Call::SendData(const char* data, std::size_t size) {
  switch (SendAll(platform_, data_, data, size, time_limit_ms_)) {
    case IoStatus::kOk:
      return TELVOR_SENT;
    case IoStatus::kTimeout:
      std::fputs(kLogDataSendTimeout, log_);
      return TELVOR_ERR_TIMEOUT;
    case IoStatus::kClosed:
    case IoStatus::kError:
      break;
  }
  // The server closed or reset the data connection: what it holds is a
  // fragment.
  std::fprintf(log_, kLogDataSendError, platform_.LastError());
  return TELVOR_ERR_UPLOAD;
}

const char* Call::JobValueText(JobValue value) const {
  switch (value) {
    case JobValue::kFaxNumber:
      return OrEmpty(request_.fax_number);
    case JobValue::kMail:
      return OrEmpty(request_.mail);
    case JobValue::kModem:
      return settings_.modem;
    case JobValue::kUser:
      return OrEmpty(request_.user);
    case JobValue::kResolution:
      return resolution_text;
    case JobValue::kPageWidth:
      return page_width_text;
    case JobValue::kPageLength:
      return page_length_text;
    case JobValue::kDocument:
      return server_file_name;
    case JobValue::kInfo:
      return OrEmpty(request_.info);
    case JobValue::kMaxDials:
      return maxdials_text;
    case JobValue::kNone:
      break;
  }
  return "";
}

std::int32_t Call::Finish(std::int32_t result) {
  if (log_ != nullptr) std::fclose(log_);
  if (data_ != kNoSocket) platform_.CloseSocket(data_);
  if (document_ != nullptr) std::fclose(document_);
  if (control_ != kNoSocket) platform_.CloseSocket(control_);
  if (started_) platform_.StopSockets();
  return result;
}

}  // namespace

std::int32_t RunSendFax(const SendRequest& request, int time_limit_ms) {
  if (request.job != nullptr && JobSizeFits(request.job)) request.job->job_number = 0;
  Call call(CurrentPlatform(), request, time_limit_ms);
  return call.Run();
}

}  // namespace telvor::client
