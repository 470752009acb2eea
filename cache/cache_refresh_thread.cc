#include "cache/cache_refresh_thread.h"

#include <new>

#include "cache/proxy_cache.h"

int CCacheRefreshJob::Assign(const QRThreadParams& other) {
  QRThreadParams::Assign(other);
  if (const auto* job = dynamic_cast<const CCacheRefreshJob*>(&other)) {
    cache = job->cache;
    request = job->request;
    directory = job->directory;
    argument = job->argument;
    start = job->start;
    state = job->state;
  }
  return 0;
}

void CCacheRefreshThread::Run() {
  for (;;) {
    UpdateActivityTime();
    if (m_Job.cache != nullptr && m_Job.state != nullptr) m_Job.cache->RunRefreshJob(m_Job);
    UpdateActivityTime();
    // The waiting request owns what the job points at; nothing is kept.
    m_Job.state.reset();
    m_Job.request = nullptr;
    m_Job.argument = nullptr;
    if (!Recycle(eThdIdle)) return;
  }
}

QRPoolThread* CCacheRefreshFactory::CreatePoolThread() { return new (std::nothrow) CCacheRefreshThread(); }
