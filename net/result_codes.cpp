#include "net/result_codes.h"

namespace toval {

const char* const kInitialErrorText = "连接服务器失败, 请检查网络或联系客服人员";

// The official site that the text of code 6 sends the player to.
#define TOVAL_OFFICIAL_SITE "www.toval.com"

const char* ResultCodeText(int32_t code) {
    switch (code) {
        case kResultBadUrl:
            return "URL解析错误, 请选择其他服务器进行尝试";
        case kResultConnect:
            return "服务器拒绝连接, 请选择其他服务器进行尝试";
        case kResultRedirect:
            return "重定向失败, 请选择其他服务器进行尝试";
        case kResultRedirectUrl:
            return "重定向URL解析错误, 请选择其他服务器进行尝试";
        case kResultNotHttp:
            return "不是HTTP连接, 请选择其他服务器进行尝试";
        case kResultHttpStatus:
            return "取得服务器文件失败, 请到官网下载最新版本 " TOVAL_OFFICIAL_SITE;
        case kResultLocalFile:
            return "创建本地文件失败";
        case kResultCancelled:
            return "主动取消连接";
        case kResultEmptyUrl:
            return "URL不正确";
        case kResultLength:
            return "下载的文件长度不正确";
        case kResultContent:
            return "下载的文件内容不正确";
        default:
            return "连接服务器失败, 请检查网络或联系管理员";
    }
}

}  // namespace toval
