#include "inventory/system_messages.h"

namespace glimmora {

namespace {

struct SystemMessage {
  long code;
  std::string_view english;
  std::string_view japanese;
};

// The codes the registry back ends (advapi32, Remote Registry, offline exports,
// the in-memory tree) and name resolution give, with the texts Windows shows.
constexpr SystemMessage kSystemMessages[] = {
    {2, "The system cannot find the file specified.", "指定されたファイルが見つかりません。"},
    {3, "The system cannot find the path specified.", "指定されたパスが見つかりません。"},
    {5, "Access is denied.", "アクセスが拒否されました。"},
    {6, "The handle is invalid.", "ハンドルが無効です。"},
    {8, "Not enough memory resources are available to process this command.",
     "このコマンドを実行するのに十分な記憶域がありません。"},
    {14, "Not enough memory resources are available to complete this operation.",
     "この操作を完了するのに十分な記憶域がありません。"},
    {50, "The request is not supported.", "要求はサポートされていません。"},
    {53, "The network path was not found.", "ネットワーク パスが見つかりません。"},
    {64, "The specified network name is no longer available.",
     "指定されたネットワーク名は利用できません。"},
    {67, "The network name cannot be found.", "ネットワーク名が見つかりません。"},
    {87, "The parameter is incorrect.", "パラメーターが間違っています。"},
    {121, "The semaphore timeout period has expired.", "セマフォがタイムアウトしました。"},
    {123, "The filename, directory name, or volume label syntax is incorrect.",
     "ファイル名、ディレクトリ名、またはボリューム ラベルの構文が間違っています。"},
    {161, "The specified path is invalid.", "指定されたパスは無効です。"},
    {234, "More data is available.", "データがさらにあります。"},
    {259, "No more data is available.", "データはこれ以上ありません。"},
    {1009, "The configuration registry database is corrupt.",
     "構成レジストリ データベースが壊れています。"},
    {1010, "The configuration registry key is invalid.", "構成レジストリ キーが無効です。"},
    {1011, "The configuration registry key could not be opened.",
     "構成レジストリ キーを開けませんでした。"},
    {1012, "The configuration registry key could not be read.",
     "構成レジストリ キーを読み取れませんでした。"},
    {1058,
     "The service cannot be started, either because it is disabled or because it has no enabled "
     "devices associated with it.",
     "サービスを開始できません。サービスが無効であるか、関連付けられた有効なデバイスがないことが原"
     "因です。"},
    {1060, "The specified service does not exist as an installed service.",
     "指定されたサービスはインストールされたサービスとして存在しません。"},
    {1062, "The service has not been started.", "サービスは開始されていません。"},
    {1115, "A system shutdown is in progress.", "システムのシャットダウンを実行中です。"},
    {1219,
     "Multiple connections to a server or shared resource by the same user, using more than one "
     "user name, are not allowed. Disconnect all previous connections to the server or shared "
     "resource and try again.",
     "同じユーザーによる、サーバーまたは共有リソースへの複数のユーザー名での複数の接続は許可されま"
     "せん。サーバーまたは共有リソースへの以前の接続をすべて切断してから、再試行してください。"},
    {1231,
     "The network location cannot be reached. For information about network troubleshooting, see "
     "Windows Help.",
     "ネットワークの場所に到達できません。ネットワークのトラブルシューティングについては、Windows "
     "ヘルプを参照してください。"},
    {1235, "The request was aborted.", "要求は中止されました。"},
    {1236, "The network connection was aborted by the local system.",
     "ネットワーク接続はローカル システムにより中止されました。"},
    {1244,
     "The operation being requested was not performed because the user has not been "
     "authenticated.",
     "ユーザーが認証されていないため、要求された操作は実行されませんでした。"},
    {1311, "We can't sign you in with this credential because your domain isn't available.",
     "ドメインが利用できないため、この資格情報でサインインできません。"},
    {1326, "The user name or password is incorrect.",
     "ユーザー名またはパスワードが正しくありません。"},
    {1331, "This user can't sign in because this account is currently disabled.",
     "このユーザーは、アカウントが現在無効になっているため、サインインできません。"},
    {1396, "The target account name is incorrect.", "ターゲット アカウント名が正しくありません。"},
    {1460, "This operation returned because the timeout period expired.",
     "タイムアウト期間が過ぎたため、この操作は終了しました。"},
    {1722, "The RPC server is unavailable.", "RPC サーバーを利用できません。"},
    {1726, "The remote procedure call failed.", "リモート プロシージャ コールに失敗しました。"},
    {1727, "The remote procedure call failed and did not execute.",
     "リモート プロシージャ コールに失敗したため、実行されませんでした。"},
    {1753, "There are no more endpoints available from the endpoint mapper.",
     "エンドポイント マッパーから使用できるエンドポイントはこれ以上ありません。"},
    {1783, "The stub received bad data.", "スタブが不正なデータを受信しました。"},
    {1937, "The authentication failed since NTLM was blocked.",
     "NTLM がブロックされたため、認証に失敗しました。"},
    {10060,
     "A connection attempt failed because the connected party did not properly respond after a "
     "period of time, or established connection failed because connected host has failed to "
     "respond.",
     "接続済みの呼び出し先が一定の時間を過ぎても正しく応答しなかったため、接続できませんでした。"
     "または接続済みのホストが応答しなかったため、確立された接続は失敗しました。"},
    {10061, "No connection could be made because the target machine actively refused it.",
     "対象のコンピューターによって拒否されたため、接続できませんでした。"},
    {11001, "No such host is known.", "そのようなホストは不明です。"},
};

}  // namespace

std::string_view SystemMessageTableText(long code, Language language) {
  for (const SystemMessage& message : kSystemMessages) {
    if (message.code == code)
      return language == Language::kJapanese ? message.japanese : message.english;
  }
  return {};
}

}  // namespace glimmora
