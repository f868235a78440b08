#include "stress_inputs.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "gb2312.h"
#include "tesqsrch/tesqsrch.h"

namespace stress {

std::vector<std::string> Queries() {
  static const char *const kQueries[] = {
      "计算机科学 9787111123453 1234-5679 11-1234/G",
      "人工智能 机器学习",
      "北京大学 张三 国家自然科学基金",
      "中国科学院计算技术研究所 李明华",
      "ISBN 7-111-12345-3 0378-5955",
      "约翰史密斯 清华大学出版社",
      " 两端 空格 ",
      "数据挖掘",
      "上海市 11-1234/G 1234567",
      "王小波的小说 文学评论",
      "自然语言处理 O'Brien 马克思主义",
      "",
  };
  std::vector<std::string> out;
  for (const char *q : kQueries) out.push_back(Gb(q));
  // A word longer than the trace stream's buffer: its trace line must stay
  // whole too.
  std::string long_word;
  while (long_word.size() < 5000) long_word += Gb("研究所");
  out.push_back(Gb("长词 ") + long_word + Gb(" 结束"));
  return out;
}

std::vector<std::string> Words() {
  static const char *const kWords[] = {
      "计算机科学", "张三", "北京大学", "9787111123453", "1234-5679", "11-1234/G", "国家自然科学基金委员会",
      "李明华", "马克思", "全文检索", "1234567", "O'Brien", "上海交通大学医学院", "约翰史密斯", "", "x",
  };
  std::vector<std::string> out;
  for (const char *w : kWords) out.push_back(Gb(w));
  return out;
}

std::vector<std::string> Essays() {
  static const char *const kEssays[] = {
      "北京大学的张三教授在上海交通大学作了报告，国家自然科学基金委员会资助了这项研究。",
      "如果因为任何原因而无法与数据库相联，例如权限不够，服务器没有运行等，将返回一个错误并退出。",
      "中国科学院计算技术研究所位于北京市海淀区，李明华研究员和王小波先生都在那里工作。",
      "约翰史密斯访问了清华大学，ISBN 9787111123453 这本书由机械工业出版社出版。",
      "经过改名的老版本文件",
  };
  std::vector<std::string> out;
  for (const char *e : kEssays) out.push_back(Gb(e));
  return out;
}

std::string Start(const char *program) {
  const int32_t rc = Tesquin_Init(0);
  if (rc != 0) {
    std::fprintf(stderr, "%s: Tesquin_Init failed (%d); set TESQ_DATA_DIR to a built data directory\n", program,
                 rc);
    std::exit(2);
  }
  const char *tmp = std::getenv("TMPDIR");
  std::string dir = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/tesq-stress-XXXXXX";
  if (mkdtemp(&dir[0]) == nullptr || chdir(dir.c_str()) != 0) {
    std::perror("scratch directory");
    std::exit(2);
  }
  return dir;
}

std::string Read_File(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace stress
